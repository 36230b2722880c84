// The program through the eyes of assistive technology and of other screens: every control of the
// main window and of each dialog has an accessible name and description, the grid's cells read
// back the tasks, the current task is announced; every caption fits its control at the scale the
// test runs under (QT_SCALE_FACTOR), and under a dark palette every text stays readable.

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTabBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextDocument>
#include <cmath>

#include "MainScreenFixture.h"
#include "dialogs/TDateSelector.h"
#include "dialogs/TFilterForm.h"
#include "dialogs/TSetTimeDialog.h"
#include "dialogs/TTaskEditor.h"
#include "report/TPreviewForm.h"
#include "report/ReportPrinting.h"
#include "report/TReportSetup.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"
#include "widgets/TFlatButton.h"

namespace {

const QList<Task> kTasks = {
    {"20261208", "09:30", QString::fromUtf8("Call the caf\u00e9 about \u20ac20"), false, "HOME", "A", "first note"},
    {"20261209", "", "Write the report", true, "WORK", "B", "second note\r\nwith two lines"},
    {"", "", "Water the plants", false, "", "C", ""},
};

bool Interactive(const QAccessibleInterface* iface) {
  switch (iface->role()) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::EditableText:
    case QAccessible::ComboBox:
    case QAccessible::SpinBox:
    case QAccessible::Table:
    case QAccessible::List:
    case QAccessible::Tree:
    case QAccessible::Slider:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::PageTabList:
      return true;
    default:
      // The clock's faces take no focus but are clicked like buttons.
      if (iface->object() != nullptr && iface->object()->inherits("TGraphicPanel")) return true;
      return iface->state().focusable && iface->role() != QAccessible::ScrollBar &&
             iface->role() != QAccessible::Cell;
  }
}

// Every visible control under `iface` that assistive technology would stop at, with what it
// lacks: "ObjectName (role): name" / ": description".
void Walk(QAccessibleInterface* iface, QWidget* top, QStringList* lacking, int* seen) {
  for (int i = 0; i < iface->childCount(); ++i) {
    QAccessibleInterface* child = iface->child(i);
    if (child == nullptr || !child->isValid()) continue;
    auto* widget = qobject_cast<QWidget*>(child->object());
    if (widget != nullptr && !widget->isVisibleTo(top)) continue;
    if (child->state().invisible) continue;
    const QAccessible::Role role = child->role();
    // Cells and header sections are the grid's own; they are checked against the tasks.
    if (role == QAccessible::Cell || role == QAccessible::ColumnHeader || role == QAccessible::RowHeader ||
        role == QAccessible::Row || role == QAccessible::MenuItem || role == QAccessible::MenuBar)
      continue;
    if (Interactive(child)) {
      ++*seen;
      const QString what = QStringLiteral("%1 (role %2)")
                               .arg(child->object() ? child->object()->objectName() : QStringLiteral("?"))
                               .arg(int(role));
      if (child->text(QAccessible::Name).trimmed().isEmpty()) *lacking << what + QStringLiteral(": name");
      // A page tab is one item of its tab bar, said by its title.
      // Qt's tab bar reports no description of its own: the one it was given must be there.
      const QString description = role == QAccessible::PageTabList && widget != nullptr ? widget->accessibleDescription()
                                                                                        : child->text(QAccessible::Description);
      if (role != QAccessible::PageTab && description.trimmed().isEmpty())
        *lacking << what + QStringLiteral(": description");
    }
    Walk(child, top, lacking, seen);
  }
}

// Walks `form` (each page of its tab sets in turn) and fails on any control without a name or
// description.
void ExpectAllNamed(QWidget* form, int atLeast) {
  QStringList lacking;
  int seen = 0;
  QList<QTabBar*> tabs = form->findChildren<QTabBar*>();
  auto walk = [&] { Walk(QAccessible::queryAccessibleInterface(form), form, &lacking, &seen); };
  walk();
  for (QTabBar* t : tabs)
    for (int page = 1; page < t->count(); ++page) {
      t->setCurrentIndex(page);
      walk();
    }
  for (QTabBar* t : tabs) t->setCurrentIndex(0);
  lacking.removeDuplicates();
  QVERIFY2(lacking.isEmpty(), qPrintable(form->objectName() + QStringLiteral(":\n  ") + lacking.join("\n  ")));
  QVERIFY2(seen >= atLeast, qPrintable(QStringLiteral("only %1 controls in %2").arg(seen).arg(form->objectName())));
}

QString Plain(QString text) {
  text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  text.remove(QLatin1Char('&'));
  return text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

// The room a control's caption needs against the room it has: "" when it fits.
QString Clipping(QWidget* w) {
  const QFontMetrics fm = w->fontMetrics();
  QSize need, room = w->contentsRect().size();
  QString text;
  if (auto* label = qobject_cast<QLabel*>(w)) {
    text = label->text();
    if (text.isEmpty() || !label->pixmap().isNull()) return QString();
    room -= QSize(2 * label->margin() + std::max(0, label->indent()), 2 * label->margin());
    if (label->wordWrap() || Qt::mightBeRichText(text)) {
      const int h = label->heightForWidth(label->width());
      if (h > label->height()) return QStringLiteral("%1 wraps to %2 pixels, has %3").arg(text).arg(h).arg(label->height());
      return QString();
    }
    const QString shown = label->buddy() ? Plain(text) : text;
    need = fm.boundingRect(QRect(0, 0, 10000, 10000), 0, shown).size();
  } else if (auto* flat = qobject_cast<TFlatButton*>(w)) {
    // The button shortens a caption that does not fit beside or under its picture.
    text = flat->text();
    if (text.isEmpty()) return QString();  // a picture alone has nothing to cut
    const QImage picture = flat->Bitmap();
    const QSize pic = picture.isNull() ? QSize() : picture.deviceIndependentSize().toSize();
    const int caption = fm.boundingRect(QRect(0, 0, 10000, 10000), Qt::TextShowMnemonic, text).width();
    const int gap = pic.isEmpty() ? 0 : 2;
    const bool stacked = flat->Layout() == TFlatButton::blBitmapTop || flat->Layout() == TFlatButton::blBitmapBottom;
    need = QSize((stacked ? std::max(caption, pic.width()) : caption + gap + pic.width()) + 4,
                 fm.ascent() + fm.descent() + (stacked ? pic.height() : 0));
    room = w->size();
  } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
    text = static_cast<QAbstractButton*>(w)->text();
    if (text.isEmpty()) return QString();
    const bool radio = qobject_cast<QRadioButton*>(w) != nullptr;
    const int indicator = w->style()->pixelMetric(radio ? QStyle::PM_ExclusiveIndicatorWidth : QStyle::PM_IndicatorWidth, nullptr, w);
    const int spacing = w->style()->pixelMetric(radio ? QStyle::PM_RadioButtonLabelSpacing : QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
    need = QSize(indicator + spacing + fm.horizontalAdvance(Plain(text)), fm.ascent() + fm.descent());
    room = w->size();
  } else if (auto* push = qobject_cast<QPushButton*>(w)) {
    text = push->text();
    if (text.isEmpty()) return QString();
    const int margin = w->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
    need = QSize(fm.horizontalAdvance(Plain(text)) + 2 * margin + (push->icon().isNull() ? 0 : push->iconSize().width() + 4),
                 fm.height());
    room = w->size();
  } else {
    return QString();
  }
  if (need.width() <= room.width() && need.height() <= room.height()) return QString();
  return QStringLiteral("\"%1\" needs %2x%3, has %4x%5")
      .arg(Plain(text).simplified())
      .arg(need.width())
      .arg(need.height())
      .arg(room.width())
      .arg(room.height());
}

void ExpectCaptionsWhole(QWidget* form) {
  if (qEnvironmentVariableIsSet("LISTWISE_SHOTS"))
    form->grab().save(QStringLiteral("%1/scale%2-%3.png")
                          .arg(qEnvironmentVariable("LISTWISE_SHOTS"))
                          .arg(form->devicePixelRatioF())
                          .arg(form->objectName()));
  QStringList clipped;
  for (QWidget* w : form->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(form) || w->width() <= 0) continue;
    const QString c = Clipping(w);
    if (!c.isEmpty()) clipped << w->objectName() + QStringLiteral(": ") + c;
  }
  QVERIFY2(clipped.isEmpty(), qPrintable(form->objectName() + QStringLiteral(" at scale ") +
                                         QString::number(form->devicePixelRatioF()) + QStringLiteral(":\n  ") +
                                         clipped.join("\n  ")));
}

double Luminance(QRgb c) {
  auto channel = [](int v) {
    const double s = v / 255.0;
    return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double Contrast(QRgb a, QRgb b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of the text drawn in `area` of `shot`: the background is the most common colour,
// the text the colour farthest from it.
double TextContrast(const QImage& shot, const QRect& area) {
  QHash<QRgb, int> count;
  const QRect r = area.intersected(shot.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) ++count[shot.pixel(x, y) | 0xFF000000];
  QRgb background = 0;
  int most = -1;
  for (auto it = count.cbegin(); it != count.cend(); ++it)
    if (it.value() > most) most = it.value(), background = it.key();
  double best = 1;
  for (auto it = count.cbegin(); it != count.cend(); ++it) best = std::max(best, Contrast(it.key(), background));
  return best;
}

QPalette DarkPalette() {
  QPalette p;
  const QColor window(0x2b, 0x2b, 0x2b), base(0x1e, 0x1e, 0x1e), text(0xe8, 0xe8, 0xe8);
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    p.setColor(g, QPalette::Window, window);
    p.setColor(g, QPalette::WindowText, g == QPalette::Disabled ? QColor(0x80, 0x80, 0x80) : text);
    p.setColor(g, QPalette::Base, base);
    p.setColor(g, QPalette::AlternateBase, QColor(0x26, 0x26, 0x26));
    p.setColor(g, QPalette::Text, g == QPalette::Disabled ? QColor(0x80, 0x80, 0x80) : text);
    p.setColor(g, QPalette::Button, QColor(0x35, 0x35, 0x35));
    p.setColor(g, QPalette::ButtonText, g == QPalette::Disabled ? QColor(0x80, 0x80, 0x80) : text);
    p.setColor(g, QPalette::Highlight, QColor(0x3d, 0x6f, 0xb0));
    p.setColor(g, QPalette::HighlightedText, Qt::white);
    p.setColor(g, QPalette::ToolTipBase, base);
    p.setColor(g, QPalette::ToolTipText, text);
    p.setColor(g, QPalette::Light, QColor(0x50, 0x50, 0x50));
    p.setColor(g, QPalette::Midlight, QColor(0x45, 0x45, 0x45));
    p.setColor(g, QPalette::Mid, QColor(0x30, 0x30, 0x30));
    p.setColor(g, QPalette::Dark, QColor(0x18, 0x18, 0x18));
    p.setColor(g, QPalette::Shadow, Qt::black);
    p.setColor(g, QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
  }
  return p;
}

// Every visible text-bearing control of `form` (labels, buttons, check boxes, edits) drawn on the
// screen: its text stands out from its background.
void ExpectReadable(QWidget* form, const QString& shotName) {
  const QImage shot = form->grab().toImage();
  const qreal ratio = shot.devicePixelRatio();
  if (!shotName.isEmpty() && qEnvironmentVariableIsSet("LISTWISE_SHOTS"))
    shot.save(qEnvironmentVariable("LISTWISE_SHOTS") + QLatin1Char('/') + shotName + QStringLiteral(".png"));
  QStringList faint;
  for (QWidget* w : form->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(form) || !w->isEnabled()) continue;
    QString text;
    QRect area;
    if (auto* l = qobject_cast<QLabel*>(w); l && l->pixmap().isNull()) text = l->text();
    else if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
    else if (auto* e = qobject_cast<QLineEdit*>(w)) text = e->text();
    else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
      text = p->toPlainText();
      w = p->viewport();
    }
    if (text.trimmed().isEmpty()) continue;
    area = QRect(w->mapTo(form, QPoint(0, 0)) * ratio, w->size() * ratio);
    const double contrast = TextContrast(shot, area);
    if (contrast < 3.0)
      faint << QStringLiteral("%1 \"%2\": contrast %3").arg(w->objectName(), Plain(text).simplified().left(30)).arg(contrast, 0, 'f', 2);
  }
  QVERIFY2(faint.isEmpty(), qPrintable(form->objectName() + QStringLiteral(":\n  ") + faint.join("\n  ")));
}

// The share of a picture's outline (its opaque pixels beside a see-through one or on its edge)
// that stands out from the button face `face` with a contrast of at least 3.
double OutlineStandingOut(const QImage& picture, QRgb face) {
  const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
  auto opaque = [&](int x, int y) { return image.rect().contains(x, y) && qAlpha(image.pixel(x, y)) >= 192; };
  int outline = 0, standing = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      if (!opaque(x, y) || (opaque(x - 1, y) && opaque(x + 1, y) && opaque(x, y - 1) && opaque(x, y + 1))) continue;
      // As it shows on the face: the pixel's colour over the face by its opacity.
      const QRgb p = image.pixel(x, y);
      const double a = qAlpha(p) / 255.0;
      auto mix = [&](int c, int f) { return int(std::lround(a * c + (1 - a) * f)); };
      const QRgb shown = qRgb(mix(qRed(p), qRed(face)), mix(qGreen(p), qGreen(face)), mix(qBlue(p), qBlue(face)));
      ++outline;
      if (Contrast(shown, face) >= 3.0) ++standing;
    }
  return outline == 0 ? 0 : double(standing) / outline;
}

bool Shown(QWidget* w) {
  w->show();
  return QTest::qWaitForWindowExposed(w);
}

}  // namespace

class AccessibilityTest : public QObject {
  Q_OBJECT
 private:
  RecordedMessages messages_;
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TMainScreen> window_;

  // Each dialog of the program, built on the open window.
  QList<QWidget*> Dialogs(QObject* owner) {
    QList<QWidget*> dialogs;
    auto* editor = new TTaskEditor({QStringLiteral("HOME"), QStringLiteral("WORK")});
    editor->setObjectName(QStringLiteral("TaskEditor"));
    auto* filter = new TFilterForm({QStringLiteral("HOME")});
    auto* selector = new TDateSelector;
    auto* time = new TSetTimeDialog;
    auto* report = new TReportSetup(window_->Store().TasqTable, window_->Store().TasqEngine);
    ReportPrinting::Install(*report);
    auto* preview = new TPreviewForm;
    for (QWidget* d : QList<QWidget*>{editor, filter, selector, time, report, preview}) {
      connect(owner, &QObject::destroyed, d, &QObject::deleteLater);
      dialogs << d;
    }
    return dialogs;
  }

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<QTemporaryDir>();
    StoreHelpers::SetDataDirectory(dir_->path());
    UserMessages::Install(&messages_);
    window_ = OpenMainScreen(kTasks, dir_->path());
    QVERIFY(window_);
  }
  void cleanupTestCase() {
    window_.reset();
    UserMessages::Install(nullptr);
    StoreHelpers::SetDataDirectory(QString());
  }

  void mainWindowControlsAreNamed() {
    ExpectAllNamed(window_.get(), 12);
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(Control<QTableView>(*window_, "ActiveGrid"));
    QCOMPARE(grid->text(QAccessible::Name), QString("Tasks"));
    QCOMPARE(QAccessible::queryAccessibleInterface(Control<QPlainTextEdit>(*window_, "ActiveNotes"))->text(QAccessible::Name), QString("Notes"));
    QCOMPARE(QAccessible::queryAccessibleInterface(Control<TFlatButton>(*window_, "MouseHelpbutton"))->text(QAccessible::Name),
             QString("What's this?"));
    // The accelerator mark is not read out.
    QCOMPARE(QAccessible::queryAccessibleInterface(Control<TFlatButton>(*window_, "Filterbutton"))->text(QAccessible::Name), QString("Filter"));
  }

  void dialogControlsAreNamed() {
    QObject owner;
    for (QWidget* dialog : Dialogs(&owner)) {
      QVERIFY(Shown(dialog));
      ExpectAllNamed(dialog, 4);
      dialog->hide();
    }
  }

  // The clock's faces take no focus, but a screen reader finds them as buttons and presses them.
  void timeFacesArePressableButtons() {
    TSetTimeDialog dialog;
    QVERIFY(Shown(&dialog));
    QWidget* face = dialog.findChild<QWidget*>(QStringLiteral("GraphicPanel4"));  // the hour 3
    QVERIFY(face != nullptr);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(face);
    QCOMPARE(iface->role(), QAccessible::Button);
    QCOMPARE(iface->text(QAccessible::Name), QString("3 AM"));
    QCOMPARE(QAccessible::queryAccessibleInterface(dialog.findChild<QWidget*>(QStringLiteral("GraphicPanel25")))
                 ->text(QAccessible::Name),
             QString("00"));  // a minute face: its caption
    QVERIFY(!iface->text(QAccessible::Description).isEmpty());
    QVERIFY(iface->actionInterface() != nullptr);
    QSignalSpy clicked(face, SIGNAL(Click()));
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(clicked.count(), 1);
  }

  // The grid's cells, through the table interface, hold the tasks' texts under their column
  // titles; the note box reads the current task's note.
  void gridCellsReadBackTheTasks() {
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(Control<QTableView>(*window_, "ActiveGrid"));
    QAccessibleTableInterface* table = grid->tableInterface();
    QVERIFY(table != nullptr);
    // Done tasks are hidden until Show DONE.
    int shown = 0;
    for (const Task& t : kTasks) shown += t.done ? 0 : 1;
    QCOMPARE(table->rowCount(), shown);
    int descript = -1, keys = -1;
    for (int c = 0; c < table->columnCount(); ++c) {
      const QString title = table->columnDescription(c).trimmed();
      if (title.compare(QLatin1String("Task"), Qt::CaseInsensitive) == 0) descript = c;
      if (title.startsWith(QLatin1String("Key"), Qt::CaseInsensitive)) keys = c;
    }
    QVERIFY2(descript >= 0 && keys >= 0, "no Description or Key Words column title");
    QStringList read, expected;
    for (int r = 0; r < table->rowCount(); ++r) {
      QAccessibleInterface* cell = table->cellAt(r, descript);
      QVERIFY(cell != nullptr);
      QCOMPARE(cell->role(), QAccessible::Cell);
      read << cell->text(QAccessible::Name) + QLatin1Char('|') + table->cellAt(r, keys)->text(QAccessible::Name);
    }
    for (const Task& t : kTasks)
      if (!t.done) expected << t.descript + QLatin1Char('|') + t.keys;
    read.sort();
    expected.sort();
    QCOMPARE(read, expected);

    Control<TFlatButton>(*window_, "ShowDone")->click();  // the done task too, with its two-line note
    const int row = GridRowOf(*window_, kTasks[1].descript);
    QVERIFY(row >= 0);
    Control<QTableView>(*window_, "ActiveGrid")->setCurrentIndex(Grid(*window_)->index(row, descript));
    // Without an active screen reader Qt sends no change events, so the cached cells are dropped.
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(grid));
    grid = QAccessible::queryAccessibleInterface(Control<QTableView>(*window_, "ActiveGrid"));
    table = grid->tableInterface();
    QAccessibleTextInterface* note = QAccessible::queryAccessibleInterface(Control<QPlainTextEdit>(*window_, "ActiveNotes"))->textInterface();
    QVERIFY(note != nullptr);
    QCOMPARE(note->text(0, note->characterCount()).replace(QChar(0x2029), QLatin1Char('\n')),
             QString("second note\nwith two lines"));
    QCOMPARE(table->cellAt(row, descript)->text(QAccessible::Name), kTasks[1].descript);
    Control<TFlatButton>(*window_, "ShowDone")->click();
  }

  // Moving to another task, by the keyboard or by the program, changes what the grid says of
  // itself to that task (setting it sends the change to a screen reader, which then says it).
  void currentTaskIsAnnounced() {
    QTableView* grid = Control<QTableView>(*window_, "ActiveGrid");
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(grid);
    const int rows = Grid(*window_)->rowCount();
    grid->setFocus();
    grid->setCurrentIndex(Grid(*window_)->index(0, 3));
    QVERIFY(iface->text(QAccessible::Description).startsWith(QStringLiteral("Task 1 of %1: ").arg(rows)));
    QTest::keyClick(grid, Qt::Key_Down);
    const QString said = iface->text(QAccessible::Description);
    QVERIFY2(said.startsWith(QStringLiteral("Task 2 of %1: ").arg(rows)), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("Task ") + GridCell(*window_, 1, 3)), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("Priority ") + GridCell(*window_, 1, 0)), qPrintable(said));
    // The help stays part of the description.
    QVERIFY(said.contains(QLatin1String("Double-click")));
    // The program moves (a new task added through the store, here the last task chosen).
    window_->Store().TasqTable.Last();
    const int now = grid->currentIndex().row();
    QVERIFY(iface->text(QAccessible::Description).startsWith(QStringLiteral("Task %1 of %2: ").arg(now + 1).arg(rows)));
    // An edited value is said at once.
    window_->Store().TasqTable.Edit();
    window_->Store().TasqTable.FieldByName("KEYS")->SetAsString(QStringLiteral("GARDEN"));
    window_->Store().TasqTable.Post();
    QTRY_VERIFY2(iface->text(QAccessible::Description).contains(QLatin1String("GARDEN")),
                 qPrintable(iface->text(QAccessible::Description)));
  }

  void captionsAreWhole() {
    ExpectCaptionsWhole(window_.get());
    QObject owner;
    for (QWidget* dialog : Dialogs(&owner)) {
      QVERIFY(Shown(dialog));
      ExpectCaptionsWhole(dialog);
      dialog->hide();
    }
  }

  // The desktop's dark colours: the grid, the note, the dialogs show light text on dark ground
  // (or dark text where a colour of their own is fixed), never dark on dark.
  void darkPaletteKeepsTextReadable() {
    const QPalette before = QApplication::palette();
    QApplication::setPalette(DarkPalette());
    QCoreApplication::processEvents();
    Control<QTableView>(*window_, "ActiveGrid")->setCurrentIndex(Grid(*window_)->index(0, 3));
    ExpectReadable(window_.get(), QStringLiteral("dark-main"));
    // The grid's cells, one by one.
    const QImage shot = Control<QTableView>(*window_, "ActiveGrid")->viewport()->grab().toImage();
    const qreal ratio = shot.devicePixelRatio();
    QStringList faint;
    for (int r = 0; r < Grid(*window_)->rowCount(); ++r)
      for (int c = 0; c < Grid(*window_)->columnCount(); ++c) {
        if (GridCell(*window_, r, c).trimmed().isEmpty()) continue;
        const QRect cell = Control<QTableView>(*window_, "ActiveGrid")->visualRect(Grid(*window_)->index(r, c));
        const double contrast = TextContrast(shot, QRect(cell.topLeft() * ratio, cell.size() * ratio).adjusted(1, 1, -1, -1));
        if (contrast < 3.0) faint << QStringLiteral("cell %1,%2: %3").arg(r).arg(c).arg(contrast, 0, 'f', 2);
      }
    QVERIFY2(faint.isEmpty(), qPrintable(faint.join("\n")));
    {
      QObject owner;
      for (QWidget* dialog : Dialogs(&owner)) {
        QVERIFY(Shown(dialog));
        ExpectReadable(dialog, QStringLiteral("dark-") + dialog->objectName());
        dialog->hide();
      }
    }
    QApplication::setPalette(before);
  }

  // The pictures of the main window's buttons under the desktop's dark colours: their outlines
  // stand out from the button face, in colour and grey alike, drawn at the screen's own pixels;
  // back on the light colours they are exactly what they were.
  void darkPaletteKeepsPicturesVisible() {
    QCoreApplication::processEvents();  // a palette set before reaches the widgets first
    QList<TFlatButton*> buttons;
    QHash<TFlatButton*, std::pair<QImage, QImage>> light;
    for (TFlatButton* b : window_->findChildren<TFlatButton*>()) {
      if (b->Bitmap().isNull()) continue;
      buttons << b;
      light[b] = {b->Bitmap(), b->GreyBitmap()};
    }
    QVERIFY(buttons.size() >= 13);  // the tool bar's nine, Exit, Show DONE, Help, What's this?
    const QString shots = qEnvironmentVariable("LISTWISE_SHOTS");
    const QString scale = QString::number(window_->devicePixelRatioF());
    if (!shots.isEmpty()) window_->grab().save(shots + QStringLiteral("/main-light-%1x.png").arg(scale));
    const QPalette before = QApplication::palette();
    QApplication::setPalette(DarkPalette());
    QCoreApplication::processEvents();
    if (!shots.isEmpty()) window_->grab().save(shots + QStringLiteral("/main-dark-%1x.png").arg(scale));
    const QRgb face = DarkPalette().color(QPalette::Button).rgb();
    QStringList faint, blurred;
    for (TFlatButton* b : buttons) {
      const QSize pixels = (QSizeF(16, 16) * b->devicePixelRatioF()).toSize();
      if (b->Bitmap().size() != pixels || b->GreyBitmap().size() != pixels)
        blurred << QStringLiteral("%1: %2 x %3 pixels").arg(b->objectName()).arg(b->Bitmap().width()).arg(b->Bitmap().height());
      for (const auto& [kind, picture] : {std::pair{"", b->Bitmap()}, std::pair{" (grey)", b->GreyBitmap()}}) {
        const double share = OutlineStandingOut(picture, face);
        if (share < 0.9) faint << QStringLiteral("%1%2: %3% of the outline").arg(b->objectName(), kind).arg(share * 100, 0, 'f', 0);
      }
    }
    QApplication::setPalette(before);
    QCoreApplication::processEvents();
    QVERIFY2(faint.isEmpty(), qPrintable(QStringLiteral("scale ") + scale + QStringLiteral(":\n  ") + faint.join("\n  ")));
    QVERIFY2(blurred.isEmpty(), qPrintable(blurred.join("\n")));
    for (TFlatButton* b : buttons) {
      QVERIFY2(b->Bitmap() == light[b].first, qPrintable(b->objectName()));
      QVERIFY2(b->GreyBitmap() == light[b].second, qPrintable(b->objectName()));
    }
  }
};

QTEST_MAIN(AccessibilityTest)
#include "tst_Accessibility.moc"
