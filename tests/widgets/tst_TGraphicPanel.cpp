// The graphic panel: its frames pixel by pixel from the outside in, the caption, and the click.

#include <QSignalSpy>
#include <QtTest>

#include "widgets/TGraphicPanel.h"

namespace {

QRgb At(const QImage& image, int x, int y) {
  return image.pixel(x, y) & 0xFFFFFF;
}

QRgb Rgb(const QColor& color) {
  return color.rgb() & 0xFFFFFF;
}

}  // namespace

class GraphicPanelTest : public QObject {
  Q_OBJECT

 private slots:
  void NewPanelIsARaisedFaceThatNeverTakesTheFocus() {
    TGraphicPanel panel;
    QCOMPARE(panel.size(), QSize(185, 41));
    QCOMPARE(panel.focusPolicy(), Qt::NoFocus);
    QCOMPARE(panel.BevelOuter(), TGraphicPanel::bvRaised);
    QCOMPARE(panel.BevelInner(), TGraphicPanel::bvNone);
    QCOMPARE(panel.Color(), panel.palette().color(QPalette::Button));
  }

  void FramesAreDrawnFromTheOutsideIn() {
    TGraphicPanel panel;
    panel.resize(20, 12);
    const QColor face(10, 200, 30);
    panel.SetColor(face);
    const QRgb light = Rgb(panel.palette().color(QPalette::Light));
    const QRgb dark = Rgb(panel.palette().color(QPalette::Dark));
    QVERIFY(light != dark);

    QImage image = panel.RenderImage();
    QCOMPARE(At(image, 0, 0), light);
    QCOMPARE(At(image, 18, 0), light);
    QCOMPARE(At(image, 19, 0), dark);  // top-right corner belongs to the shadow
    QCOMPARE(At(image, 0, 11), dark);  // so does bottom-left
    QCOMPARE(At(image, 19, 11), dark);
    QCOMPARE(At(image, 1, 1), Rgb(face));

    panel.SetBevelOuter(TGraphicPanel::bvLowered);
    panel.SetBevelWidth(2);
    image = panel.RenderImage();
    QCOMPARE(At(image, 1, 1), dark);
    QCOMPARE(At(image, 18, 10), light);
    QCOMPARE(At(image, 2, 2), Rgb(face));

    // Single border, one outer bevel pixel, two of border width, then the inner bevel.
    panel.SetBorderStyle(TGraphicPanel::bsSingle);
    panel.SetBevelOuter(TGraphicPanel::bvRaised);
    panel.SetBevelWidth(1);
    panel.SetBorderWidth(2);
    panel.SetBevelInner(TGraphicPanel::bvLowered);
    image = panel.RenderImage();
    QCOMPARE(At(image, 0, 5), 0u);
    QCOMPARE(At(image, 19, 5), 0u);
    QCOMPARE(At(image, 1, 5), light);
    QCOMPARE(At(image, 18, 5), dark);
    QCOMPARE(At(image, 2, 5), Rgb(face));
    QCOMPARE(At(image, 3, 5), Rgb(face));
    QCOMPARE(At(image, 4, 5), dark);
    QCOMPARE(At(image, 15, 5), light);
    QCOMPARE(At(image, 5, 5), Rgb(face));
  }

  void CaptionIsDrawnInTheFontColourAndAligned() {
    TGraphicPanel panel;
    panel.resize(60, 20);
    panel.SetColor(Qt::white);
    panel.SetFontColor(Qt::black);
    auto darkColumns = [&]() {
      const QImage image = panel.RenderImage();
      int first = -1, last = -1;
      for (int x = 2; x < image.width() - 2; ++x)
        for (int y = 2; y < image.height() - 2; ++y)
          if (qGray(image.pixel(x, y)) < 128) {
            if (first < 0) first = x;
            last = x;
          }
      return std::pair(first, last);
    };
    QCOMPARE(darkColumns().first, -1);
    panel.SetCaption("12");
    const auto centred = darkColumns();
    QVERIFY(centred.first > 10 && centred.second < 50);
    panel.SetAlignment(Qt::AlignLeft);
    QVERIFY(darkColumns().first < centred.first);
    panel.SetAlignment(Qt::AlignRight);
    QVERIFY(darkColumns().second > centred.second);
  }

  void ClickNeedsPressAndReleaseOverThePanel() {
    QWidget window;
    window.resize(100, 60);
    auto* panel = new TGraphicPanel(&window);
    panel->setGeometry(10, 10, 24, 19);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy clicks(panel, &TGraphicPanel::Click);
    QTest::mouseClick(panel, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicks.count(), 1);
    QTest::mouseClick(panel, Qt::RightButton, {}, QPoint(5, 5));
    QCOMPARE(clicks.count(), 1);
    QTest::mousePress(panel, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(panel, Qt::LeftButton, {}, QPoint(40, 5));
    QCOMPARE(clicks.count(), 1);
    QVERIFY(!panel->hasFocus());
  }

  void ParentColourAndFontFollowTheParent() {
    QWidget parent;
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(1, 2, 3));
    parent.setPalette(palette);
    auto* panel = new TGraphicPanel(&parent);
    panel->SetParentColor(true);
    QCOMPARE(panel->Color(), QColor(1, 2, 3));
    panel->SetColor(Qt::red);
    QVERIFY(!panel->ParentColor());
    QCOMPARE(panel->Color(), QColor(Qt::red));

    QVERIFY(panel->ParentFont());
    QFont big = panel->font();
    big.setPixelSize(30);
    panel->setFont(big);
    QVERIFY(!panel->ParentFont());
    panel->SetParentFont(true);
    QFont parentFont = parent.font();
    parentFont.setPixelSize(17);
    parent.setFont(parentFont);
    QCOMPARE(panel->font().pixelSize(), 17);
  }
};

QTEST_MAIN(GraphicPanelTest)
#include "tst_TGraphicPanel.moc"
