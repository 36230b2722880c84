// The flat button: focus, clicks, Enter and Esc in a dialog, sticky groups, the drop-down
// menu, the disabled state and the grey picture (the scaled screen is tst_FlatButtonScaled).

#include <QApplication>
#include <QDialog>
#include <QIconEngine>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

#include "widgets/TFlatButton.h"

namespace {

// A dialog with a line edit holding the focus, OK (default) and Cancel buttons.
struct Dialog {
  QDialog dialog;
  QLineEdit* edit = new QLineEdit(&dialog);
  TFlatButton* ok = new TFlatButton(QStringLiteral("OK"), &dialog);
  TFlatButton* cancel = new TFlatButton(QStringLiteral("Cancel"), &dialog);
  int ok_clicks = 0;
  int cancel_clicks = 0;
  QWidget* focus_at_click = nullptr;

  Dialog() {
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(edit);
    layout->addWidget(ok);
    layout->addWidget(cancel);
    ok->SetDefault(true);
    cancel->SetCancel(true);
    QObject::connect(ok, &TFlatButton::clicked, [this] {
      ++ok_clicks;
      focus_at_click = QApplication::focusWidget();
      dialog.done(1);
    });
    QObject::connect(cancel, &TFlatButton::clicked, [this] {
      ++cancel_clicks;
      dialog.done(2);
    });
  }
  bool Show() {
    dialog.show();
    dialog.activateWindow();
    edit->setFocus();
    return QTest::qWaitForWindowActive(&dialog);
  }
};

// A white square with a thin black diagonal across it, drawn smooth at any size.
class DiagonalEngine final : public QIconEngine {
 public:
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
    const qreal unit = rect.width() / 16.0;
    painter->setRenderHint(QPainter::Antialiasing);
    painter->fillRect(QRectF(unit, unit, 14 * unit, 14 * unit), Qt::white);
    painter->setPen(QPen(Qt::black, 0.75 * unit));
    painter->drawLine(QPointF(2 * unit, 13.7 * unit), QPointF(14 * unit, 2.3 * unit));
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    painter.end();
    return QPixmap::fromImage(image);
  }
  QIconEngine* clone() const override { return new DiagonalEngine; }
};

}  // namespace

class FlatButtonTest : public QObject {
  Q_OBJECT

 private slots:
  void NewButtonHasItsDefaults() {
    TFlatButton button;
    QCOMPARE(button.size(), QSize(50, 40));
    QCOMPARE(button.focusPolicy(), Qt::NoFocus);
    QCOMPARE(button.Options(),
             TFlatButton::TButtonOptions(TFlatButton::boMonoDisplay | TFlatButton::boPopupMark));
    QCOMPARE(button.Layout(), TFlatButton::blBitmapTop);
    QCOMPARE(button.ShadingType(), TFlatButton::stMedium);
    QVERIFY(button.ShowDownPattern());
  }

  void ClickLeavesTheFocusWhereItWas() {
    Dialog d;
    QVERIFY(d.Show());
    QCOMPARE(QApplication::focusWidget(), d.edit);
    QTest::mouseClick(d.ok, Qt::LeftButton);
    QCOMPARE(d.ok_clicks, 1);
    QCOMPARE(d.focus_at_click, d.edit);
    QCOMPARE(d.dialog.result(), 1);
  }

  void ReleaseOutsideOrOtherButtonsFireNothing() {
    TFlatButton button(QStringLiteral("Go"));
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QSignalSpy spy(&button, &TFlatButton::clicked);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(button.IsPressed());
    QTest::mouseMove(&button, QPoint(200, 200));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(200, 200));
    QCOMPARE(spy.count(), 0);
    QVERIFY(!button.IsPressed());

    QTest::mouseClick(&button, Qt::RightButton, {}, QPoint(10, 10));
    QCOMPARE(spy.count(), 0);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(spy.count(), 1);
  }

  void EnterAndEscInADialog() {
    {
      Dialog d;
      QVERIFY(d.Show());
      QTest::keyClick(d.edit, Qt::Key_Return);
      QCOMPARE(d.ok_clicks, 1);
      QCOMPARE(d.cancel_clicks, 0);
      QCOMPARE(d.dialog.result(), 1);
    }
    {
      Dialog d;
      QVERIFY(d.Show());
      QTest::keyClick(d.edit, Qt::Key_Enter, Qt::KeypadModifier);
      QCOMPARE(d.ok_clicks, 1);
    }
    {
      Dialog d;
      QVERIFY(d.Show());
      QTest::keyClick(d.edit, Qt::Key_Escape);
      QCOMPARE(d.cancel_clicks, 1);
      QCOMPARE(d.ok_clicks, 0);
      QCOMPARE(d.dialog.result(), 2);
    }
    {
      // A disabled default button lets Enter through; a hidden cancel button lets Esc through
      // (the dialog then rejects on its own).
      Dialog d;
      QVERIFY(d.Show());
      d.ok->setEnabled(false);
      QTest::keyClick(d.edit, Qt::Key_Return);
      QCOMPARE(d.ok_clicks, 0);
      d.cancel->hide();
      QTest::keyClick(d.edit, Qt::Key_Escape);
      QCOMPARE(d.cancel_clicks, 0);
      QCOMPARE(d.dialog.result(), int(QDialog::Rejected));
    }
  }

  void FirstCancelButtonTakesEsc() {
    Dialog d;
    auto* second = new TFlatButton(QStringLiteral("Close"), &d.dialog);
    second->SetCancel(true);
    int second_clicks = 0;
    connect(second, &TFlatButton::clicked, [&] { ++second_clicks; });
    QVERIFY(d.Show());
    QTest::keyClick(d.edit, Qt::Key_Escape);
    QCOMPARE(d.cancel_clicks, 1);
    QCOMPARE(second_clicks, 0);
  }

  void DefaultButtonWithMenuClicksOnEnterButOpensMenuOnPress() {
    Dialog d;
    QMenu menu;
    menu.addAction(QStringLiteral("Today"));
    d.ok->SetDropDownMenu(&menu);
    d.ok->disconnect();
    connect(d.ok, &TFlatButton::clicked, [&] { ++d.ok_clicks; });
    QVERIFY(d.Show());
    QTest::keyClick(d.edit, Qt::Key_Return);
    QCOMPARE(d.ok_clicks, 1);
    QVERIFY(!menu.isVisible());

    bool menu_shown = false;
    QTimer::singleShot(0, &menu, [&] {
      menu_shown = menu.isVisible();
      menu.close();
    });
    QTest::mouseClick(d.ok, Qt::LeftButton);
    QVERIFY(menu_shown);
    QCOMPARE(d.ok_clicks, 1);
    QVERIFY(!d.ok->IsPressed());
  }

  void DropDownMenuBecomesNoneWhenDestroyed() {
    TFlatButton button;
    auto* menu = new QMenu;
    button.SetDropDownMenu(menu);
    delete menu;
    QCOMPARE(button.DropDownMenu(), nullptr);
  }

  void AcceleratorClicksWithoutTakingFocus() {
    Dialog d;
    auto* go = new TFlatButton(QStringLiteral("&Go"), &d.dialog);
    int clicks = 0;
    connect(go, &TFlatButton::clicked, [&] { ++clicks; });
    QVERIFY(d.Show());
    QTest::keyClick(d.edit, Qt::Key_G, Qt::AltModifier);
    QCOMPARE(clicks, 1);
    QCOMPARE(QApplication::focusWidget(), d.edit);
  }

  void StickyGroups() {
    QWidget parent;
    auto* a = new TFlatButton(&parent);
    auto* b = new TFlatButton(&parent);
    auto* c = new TFlatButton(&parent);
    b->move(60, 0);
    c->move(120, 0);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));

    // Without a group index a button cannot be down.
    a->SetDown(true);
    QVERIFY(!a->Down());

    a->SetGroupIndex(1);
    b->SetGroupIndex(1);
    c->SetGroupIndex(2);
    c->SetDown(true);
    QTest::mouseClick(a, Qt::LeftButton);
    QVERIFY(a->Down());
    QVERIFY(c->Down());  // another group is left alone
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(b->Down());
    QVERIFY(!a->Down());

    // Clicking the down button keeps it down unless the group allows all up.
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(b->Down());
    a->SetAllowAllUp(true);
    QVERIFY(b->AllowAllUp());
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(!b->Down());

    c->SetGroupIndex(0);
    QVERIFY(!c->Down());
  }

  void DisabledButtonIgnoresMouseAndKeys() {
    Dialog d;
    QVERIFY(d.Show());
    d.ok->setEnabled(false);
    QTest::mouseClick(d.ok, Qt::LeftButton);
    QTest::keyClick(d.edit, Qt::Key_Return);
    QCOMPARE(d.ok_clicks, 0);
    QVERIFY(!d.ok->IsPressed());
  }

  void DisabledLookIsEmbossed() {
    QImage bitmap(8, 8, QImage::Format_RGB32);
    bitmap.fill(qRgb(255, 0, 255));  // the transparent colour
    for (int i = 1; i < 7; ++i) bitmap.setPixel(i, 4, qRgb(0, 0, 128));
    TFlatButton button;
    button.SetBitmap(bitmap);
    button.setEnabled(false);
    QImage shot(button.size(), QImage::Format_RGB32);
    shot.fill(qRgb(10, 20, 30));
    button.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
    // The picture stands centred at the top of a caption-less button: 8 x 8 at (21, 16).
    const QRgb shadow = button.palette().color(QPalette::Dark).rgb() & 0xFFFFFF;
    const QRgb light = button.palette().color(QPalette::Light).rgb() & 0xFFFFFF;
    QCOMPARE(shot.pixel(21 + 3, 16 + 4) & 0xFFFFFF, shadow);
    QCOMPARE(shot.pixel(21 + 7, 16 + 5) & 0xFFFFFF, light);
    QCOMPARE(shot.pixel(21 + 0, 16 + 0) & 0xFFFFFF, qRgb(10, 20, 30) & 0xFFFFFF);
  }

  void PictureWithItsOwnTransparencyKeepsItsBlackPixels() {
    QImage bitmap(8, 8, QImage::Format_ARGB32);
    bitmap.fill(Qt::transparent);
    for (int i = 0; i < 8; ++i) bitmap.setPixel(i, 4, qRgba(0, 0, 0, 255));
    TFlatButton button;
    button.SetOptions({});  // no grey picture: the bitmap itself
    button.SetBitmap(bitmap);
    QImage shot(button.size(), QImage::Format_RGB32);
    shot.fill(qRgb(200, 100, 50));
    button.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
    QCOMPARE(shot.pixel(21 + 3, 16 + 4) & 0xFFFFFF, 0u);
    QCOMPARE(shot.pixel(21 + 3, 16 + 3) & 0xFFFFFF, qRgb(200, 100, 50) & 0xFFFFFF);
    // Its grey picture leaves the see-through pixels alone and turns black to black.
    const QImage grey =
        TFlatButton::MakeGreyBitmap(bitmap, TFlatButton::stMedium, Qt::white, Qt::gray);
    QCOMPARE(qAlpha(grey.pixel(0, 0)), 0);
    QCOMPARE(grey.pixel(3, 4), qRgba(0, 0, 0, 255));
  }

  void SmoothedEdgesKeepTheirOpacity() {
    // A drawn picture's edge pixels are partly see-through; its grey and disabled looks keep that.
    QImage bitmap(8, 8, QImage::Format_ARGB32);
    bitmap.fill(Qt::transparent);
    bitmap.setPixel(3, 4, qRgba(0, 0, 0, 255));
    bitmap.setPixel(4, 4, qRgba(0, 0, 0, 128));
    const QImage grey =
        TFlatButton::MakeGreyBitmap(bitmap, TFlatButton::stMedium, Qt::white, Qt::gray);
    QCOMPARE(grey.pixel(3, 4), qRgba(0, 0, 0, 255));
    QCOMPARE(grey.pixel(4, 4), qRgba(0, 0, 0, 128));
    TFlatButton button;
    button.SetBitmap(bitmap);
    button.setEnabled(false);
    QImage shot(button.size(), QImage::Format_RGB32);
    shot.fill(Qt::white);
    button.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
    const QColor shadow = button.palette().color(QPalette::Dark);
    QCOMPARE(shot.pixel(21 + 3, 16 + 4) & 0xFFFFFF, shadow.rgb() & 0xFFFFFF);
    const QColor half = shot.pixelColor(21 + 4, 16 + 4);
    QVERIFY2(half.red() > shadow.red() + 20 && half.red() < 255 - 20, qPrintable(half.name()));
  }

  void ThinLinesOfADrawnPictureStayInItsGreyPicture() {
    TFlatButton button;
    QPalette palette = button.palette();
    palette.setColor(QPalette::Light, Qt::white);
    palette.setColor(QPalette::Dark, QColor(160, 160, 160));
    button.setPalette(palette);
    button.SetPicture(QIcon(new DiagonalEngine));
    const QImage grey = button.GreyBitmap().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(grey.size(), QSize(16, 16));
    QCOMPARE(qAlpha(grey.pixel(0, 0)), 0);
    // Every row the line crosses still shows it: its darkest pixel is well below white. (Its
    // smoothed pixels are light greys, which by themselves the thresholds turn white.)
    for (int y = 4; y < 12; ++y) {
      int darkest = 765;
      for (int x = 1; x < 15; ++x) {  // over the white fill
        const QRgb p = grey.pixel(x, y);
        darkest = std::min(darkest, qRed(p) + qGreen(p) + qBlue(p));
      }
      QVERIFY2(darkest < 600, qPrintable(QStringLiteral("row %1: %2").arg(y).arg(darkest)));
    }
    // The white fill stays white.
    QCOMPARE(grey.pixel(3, 3), qRgba(255, 255, 255, 255));
  }

  void GreyPictureFollowsTheShadingThresholds() {
    QImage bitmap(5, 1, QImage::Format_RGB32);
    bitmap.setPixel(0, 0, qRgb(255, 0, 255));    // transparent, kept
    bitmap.setPixel(1, 0, qRgb(200, 200, 200));  // 600: above 553
    bitmap.setPixel(2, 0, qRgb(100, 100, 100));  // 300: above 231
    bitmap.setPixel(3, 0, qRgb(20, 20, 20));     // 60: above 57
    bitmap.setPixel(4, 0, qRgb(19, 19, 19));     // 57: not above 57
    const QColor hi(1, 2, 3), sh(4, 5, 6);
    const QImage grey = TFlatButton::MakeGreyBitmap(bitmap, TFlatButton::stMedium, hi, sh);
    QCOMPARE(grey.pixel(0, 0) & 0xFFFFFF, qRgb(255, 0, 255) & 0xFFFFFF);
    QCOMPARE(grey.pixel(1, 0) & 0xFFFFFF, 0xFFFFFFu);
    QCOMPARE(grey.pixel(2, 0) & 0xFFFFFF, hi.rgb() & 0xFFFFFF);
    QCOMPARE(grey.pixel(3, 0) & 0xFFFFFF, sh.rgb() & 0xFFFFFF);
    QCOMPARE(grey.pixel(4, 0) & 0xFFFFFF, 0u);
    // The dark shading has other thresholds: 200 lies between its low (175) and middle (274).
    bitmap.setPixel(2, 0, qRgb(66, 67, 67));  // 200
    const QImage dark = TFlatButton::MakeGreyBitmap(bitmap, TFlatButton::stDark, hi, sh);
    QCOMPARE(dark.pixel(2, 0) & 0xFFFFFF, sh.rgb() & 0xFFFFFF);

    TFlatButton button;
    button.SetBitmap(bitmap);
    QVERIFY(!button.GreyBitmap().isNull());
    button.SetNoFocusBitmap(bitmap);
    QVERIFY(button.GreyBitmap().isNull());
  }

  void IconOnlyTurnsTheCaptionIntoTheHint() {
    TFlatButton button(QStringLiteral("Save && &Close"));
    button.SetOptions(button.Options() | TFlatButton::boIconOnly);
    QCOMPARE(button.toolTip(), QStringLiteral("Save & Close"));
    button.SetCaption(QStringLiteral("&Print"));
    QCOMPARE(button.toolTip(), QStringLiteral("Print"));
    button.SetOptions(button.Options() & ~TFlatButton::TButtonOptions(TFlatButton::boIconOnly));
    QCOMPARE(button.toolTip(), QString());

    // A hint of the form's own is kept.
    button.setToolTip(QStringLiteral("Mine"));
    button.SetOptions(button.Options() | TFlatButton::boIconOnly);
    QCOMPARE(button.toolTip(), QStringLiteral("Mine"));
  }
};

QTEST_MAIN(FlatButtonTest)
#include "tst_FlatButton.moc"
