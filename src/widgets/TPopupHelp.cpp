#include "widgets/TPopupHelp.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QMenu>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QShortcut>
#include <QWidget>
#include <algorithm>

#include "widgets/HelpWindow.h"
#include "widgets/TPopupHelpMask.h"
#include "widgets/TPopupHelpPopup.h"

namespace {

PopupHelpSettings& MutableSettings() {
  static PopupHelpSettings settings;
  return settings;
}

QPointer<TPopupHelpPopup>& PopupInstance() {
  static QPointer<TPopupHelpPopup> popup;
  return popup;
}

// Remembers, beside a "What's this?" menu, the control it was last opened on; a QPointer so a
// control destroyed since reads as none.
class PopupComponentHolder : public QObject {
 public:
  explicit PopupComponentHolder(QMenu* menu) : QObject(menu) {}
  // Found by type among the menu's own children (the menu's actions are children too).
  static PopupComponentHolder* Of(const QMenu* menu) {
    for (QObject* child : menu->children()) {
      if (auto* holder = dynamic_cast<PopupComponentHolder*>(child)) return holder;
    }
    return nullptr;
  }
  QPointer<QWidget> control;
};
constexpr int kMaxRedirectName = 255;

}  // namespace

TPopupHelp::TPopupHelp(QWidget* form) : QObject(form) {
  setObjectName(QStringLiteral("PopupHelp1"));
  font_ = QFont(QStringLiteral("MS Sans Serif"));
  font_.setPixelSize(11);
}

bool TPopupHelp::AddHelp(const QString& control_name, const QString& text, quint32 help_context) {
  return help_text_.AddHelp(control_name, text, help_context);
}

bool TPopupHelp::AddRecord(const QString& control_name) {
  return help_text_.Add(control_name, std::make_unique<TPopupHelpData>());
}

void TPopupHelp::SetMaxWidth(int width) {
  max_width_ = std::clamp(width, 1, 32767);
}

QWidget* TPopupHelp::Form() const {
  return qobject_cast<QWidget*>(parent());
}

void TPopupHelp::CopySettings() {
  PopupHelpSettings& settings = MutableSettings();
  settings.source = this;
  settings.color = color_;
  settings.more_text = more_text_;
  QWidget* form = Form();
  settings.font = (parent_font_ && form) ? form->font() : font_;
  settings.max_width = max_width_;
}

const PopupHelpSettings& TPopupHelp::Settings() {
  return MutableSettings();
}

void TPopupHelp::NotifyHelpDone() {
  if (TPopupHelp* source = MutableSettings().source) emit source->HelpDone();
}

TPopupHelpPopup* TPopupHelp::Popup() {
  return PopupInstance();
}

QRect TPopupHelp::ScreenRect(const QWidget* control) {
  return QRect(control->mapToGlobal(QPoint(0, 0)), control->size());
}

void TPopupHelp::ShowHelpFor(QWidget* control) {
  CopySettings();
  if (!control) {
    NotifyHelpDone();
    return;
  }
  for (QWidget* c = control; c && !c->isWindow(); c = c->parentWidget()) {
    if (FindControlHelp(c, ScreenRect(c))) return;
  }
}

bool TPopupHelp::FindControlHelp(QWidget* control, const QRect& screen_rect) {
  QPointer<TPopupHelpPopup>& popup = PopupInstance();
  if (!popup) {
    popup = new TPopupHelpPopup;
    QObject::connect(popup, &TPopupHelpPopup::Hidden, [] { NotifyHelpDone(); });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, popup, &QObject::deleteLater);
  }
  if (!control) return false;
  QWidget* form = control->window();
  const QList<TPopupHelp*> helps = form->findChildren<TPopupHelp*>(Qt::FindDirectChildrenOnly);
  if (helps.isEmpty()) return false;
  const TPopupHelpText& list = helps.last()->HelpText();

  QString name = control->objectName();
  QSet<QString> visited;
  TPopupHelpData* record = nullptr;
  for (;;) {
    // A chain of redirects that comes back to a name already followed has no end.
    if (visited.contains(name)) return false;
    visited.insert(name);
    record = list.FindText(name);
    if (!record) return false;
    const QString text = record->Text();
    if (!text.startsWith(QStringLiteral("->"))) break;
    name = text.mid(2, kMaxRedirectName);
  }

  if (!form->isActiveWindow()) form->raise();
  // A control may carry a help topic of its own (property "HelpContext"); a record without
  // one takes it over.
  if (record->HelpContext() == 0) {
    const QVariant own = control->property("HelpContext");
    if (own.isValid() && own.toUInt() != 0) record->SetHelpContext(own.toUInt());
  }
  const PopupHelpSettings& settings = MutableSettings();
  popup->ShowHelp(record, screen_rect, settings.color, settings.font, settings.max_width,
                  settings.more_text);
  return true;
}

void TPopupHelp::StartHelpMode() {
  QWidget* form = Form();
  if (!form || InHelpMode()) return;
  MutableSettings().source = this;
  auto* mask = new TPopupHelpMask(
      form, {QuestionCursor(),
             [](QWidget* control) { return FindControlHelp(control, ScreenRect(control)); },
             &TPopupHelp::NotifyHelpDone});
  CopySettings();
  mask->Start();
}

bool TPopupHelp::InHelpMode() const {
  QWidget* form = Form();
  if (!form) return false;
  for (TPopupHelpMask* mask : form->findChildren<TPopupHelpMask*>(Qt::FindDirectChildrenOnly)) {
    if (!mask->Ended()) return true;
  }
  return false;
}

QImage TPopupHelp::QuestionImage() {
  static const QImage kImage(QStringLiteral(":/widgets/QCURSOR"));
  return kImage;
}

QImage TPopupHelp::MouseHelpBitmap() {
  const QImage image = QuestionImage().convertToFormat(QImage::Format_ARGB32);
  if (image.isNull()) return image;
  QRect used;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(image.pixel(x, y)) != 0) used |= QRect(x, y, 1, 1);
    }
  }
  // One see-through pixel around the picture, so its top-left pixel is not part of it.
  QImage out(used.width() + 2, used.height() + 2, QImage::Format_ARGB32);
  out.fill(Qt::transparent);
  for (int y = 0; y < used.height(); ++y) {
    for (int x = 0; x < used.width(); ++x) {
      out.setPixel(x + 1, y + 1, image.pixel(used.x() + x, used.y() + y));
    }
  }
  return out;
}

QCursor TPopupHelp::QuestionCursor() {
  const QImage image = QuestionImage();
  if (image.isNull()) return QCursor(Qt::WhatsThisCursor);
  return QCursor(QPixmap::fromImage(image), 0, 0);
}

QMenu* TPopupHelp::CreateWhatsThisMenu(QWidget* form, const QString& item_name) {
  auto* menu = new QMenu(form);
  menu->setObjectName(QStringLiteral("WhatsThisMenu"));
  QAction* item = menu->addAction(QStringLiteral("What's this?"));
  item->setObjectName(item_name);
  ConnectWhatsThisMenu(menu);
  return menu;
}

void TPopupHelp::ConnectWhatsThisMenu(QMenu* menu) {
  if (menu->actions().isEmpty()) return;
  QObject::connect(menu->actions().constFirst(), &QAction::triggered, menu, [menu] {
    QWidget* control = PopupComponent(menu);
    if (!control) return;
    // The help of the form the control stands on, as the lookup itself takes it.
    const QList<TPopupHelp*> helps =
        control->window()->findChildren<TPopupHelp*>(Qt::FindDirectChildrenOnly);
    if (!helps.isEmpty()) helps.last()->ShowHelpFor(control);
  });
}

void TPopupHelp::SetWhatsThisMenu(QWidget* control, QMenu* menu) {
  control->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(control, &QWidget::customContextMenuRequested, menu,
                   [control, menu](const QPoint& pos) {
                     PopupComponentHolder* holder = PopupComponentHolder::Of(menu);
                     if (!holder) holder = new PopupComponentHolder(menu);
                     holder->control = control;
                     // A scroll area (grid, memo) reports the point on its viewport.
                     auto* area = qobject_cast<QAbstractScrollArea*>(control);
                     const QWidget* from = area ? area->viewport() : control;
                     menu->exec(from->mapToGlobal(pos));
                     // The item has been chosen or not by now; the menu opened some other way
                     // later must not explain this control again.
                     if (PopupComponentHolder* done = PopupComponentHolder::Of(menu)) {
                       done->control = nullptr;
                     }
                   });
}

QWidget* TPopupHelp::PopupComponent(const QMenu* menu) {
  if (!menu) return nullptr;
  const PopupComponentHolder* holder = PopupComponentHolder::Of(menu);
  return holder ? holder->control.data() : nullptr;
}

void TPopupHelp::InstallHelpKeys(int help_context) {
  InstallHelpKey(help_context);
  InstallHelpModeKey();
}

void TPopupHelp::InstallHelpKey(int help_context) {
  if (QWidget* form = Form()) HelpWindow::InstallHelpKey(form, help_context);
}

void TPopupHelp::InstallHelpModeKey() {
  QWidget* form = Form();
  if (!form) return;
  auto* mode = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1), form);
  connect(mode, &QShortcut::activated, this, &TPopupHelp::StartHelpMode);
}

bool TPopupHelp::WireForm(QMenu* menu, const QStringList& menu_controls,
                          QAbstractButton* mouse_help_button, int help_context) {
  QWidget* form = Form();
  if (!form) return false;
  bool all_found = true;
  if (menu) {
    for (const QString& name : menu_controls) {
      QWidget* control = form->findChild<QWidget*>(name);
      if (!control) {
        qWarning("TPopupHelp: %s has no control %s for its \"What's this?\" menu",
                 qPrintable(form->objectName()), qPrintable(name));
        all_found = false;
        continue;
      }
      SetWhatsThisMenu(control, menu);
    }
  }
  if (mouse_help_button) {
    connect(mouse_help_button, &QAbstractButton::clicked, this, &TPopupHelp::StartHelpMode);
  }
  if (help_context != 0) InstallHelpKey(help_context);
  InstallHelpModeKey();
  FollowWindowColor();
  DescribeControls();
  return all_found;
}

QString TPopupHelp::TextFor(const QString& control_name) const {
  QString name = control_name;
  QSet<QString> visited;
  for (;;) {
    if (visited.contains(name)) return QString();
    visited.insert(name);
    const TPopupHelpData* record = help_text_.FindText(name);
    if (!record) return QString();
    const QString text = record->Text();
    if (!text.startsWith(QStringLiteral("->"))) {
      static const QRegularExpression kBreaks(QStringLiteral("\\s*[\\r\\n]+\\s*"));
      return QString(text).replace(kBreaks, QStringLiteral(" ")).trimmed();
    }
    name = text.mid(2, kMaxRedirectName);
  }
}

void TPopupHelp::DescribeControls() {
  QWidget* form = Form();
  if (!form) return;
  // As the "What's this?" lookup does, a control without a text of its own takes the text of the
  // nearest control around it that has one (a radio button that of its group).
  for (QWidget* control : form->findChildren<QWidget*>()) {
    if (!control->accessibleDescription().isEmpty()) continue;
    for (QWidget* c = control; c && c != form && !c->isWindow(); c = c->parentWidget()) {
      const QString text = c->objectName().isEmpty() ? QString() : TextFor(c->objectName());
      if (text.isEmpty()) continue;
      control->setAccessibleDescription(text);
      break;
    }
  }
}

void TPopupHelp::FollowWindowColor() {
  QWidget* form = Form();
  if (!form) return;
  color_ = form->palette().color(QPalette::Base);
  if (follows_window_color_) return;
  follows_window_color_ = true;
  form->installEventFilter(this);
}

bool TPopupHelp::eventFilter(QObject* watched, QEvent* event) {
  // Showing counts as activating: without a window manager activation may never come.
  if (follows_window_color_ && watched == Form() &&
      (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show ||
       event->type() == QEvent::PaletteChange)) {
    color_ = Form()->palette().color(QPalette::Base);
  }
  return QObject::eventFilter(watched, event);
}
