// The flat button on a screen scaled to 2x: pictures are drawn at the screen's own pixels, sharp,
// in the place a 1x picture takes.

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QtTest>

#include "widgets/TFlatButton.h"

namespace {

// 16 black stripes half a unit wide, on the odd ones of the 32 half units across (the top-left
// corner stays see-through): on a 2x screen, one pixel each. Drawn at the screen's pixels the
// stripes survive; drawn at 16 x 16 and enlarged they would come out blurred or doubled.
class StripesEngine final : public QIconEngine {
 public:
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
    const qreal half = rect.width() / 32.0;
    for (int k = 1; k < 32; k += 2)
      painter->fillRect(QRectF(rect.left() + k * half, rect.top(), half, rect.height()), Qt::black);
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    painter.end();
    return QPixmap::fromImage(image);
  }
  QIconEngine* clone() const override { return new StripesEngine; }
};

QIcon Stripes() {
  return QIcon(new StripesEngine);
}

// The colour of the device pixels along one row of the picture's place, as "#" (black) or ".".
QString StripeRow(const QImage& shot, QPoint at, int length) {
  QString row;
  for (int x = 0; x < length; ++x)
    row += (shot.pixel(at.x() + x, at.y()) & 0xFFFFFF) == 0 ? u'#' : u'.';
  return row;
}

QString Expected(int length) {
  QString row;
  for (int x = 0; x < length; ++x) row += x % 2 == 1 ? u'#' : u'.';
  return row;
}

}  // namespace

class FlatButtonScaledTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QCOMPARE(qApp->devicePixelRatio(), 2.0); }

  void PictureIsDrawnAtTheScreensPixels() {
    // The coloured picture (no grey one) and the grey picture shown while the pointer is elsewhere.
    for (const TFlatButton::TButtonOptions options :
         {TFlatButton::TButtonOptions(), TFlatButton::TButtonOptions(TFlatButton::boMonoDisplay)}) {
      TFlatButton button;
      button.SetOptions(options);
      button.SetPicture(Stripes());
      QCOMPARE(button.Bitmap().size(), QSize(32, 32));
      QCOMPARE(button.Bitmap().devicePixelRatio(), 2.0);
      const QImage shot = button.grab().toImage();
      QCOMPARE(shot.size(), QSize(100, 80));
      // A caption-less 50 x 40 button has its 16 x 16 picture at (17, 12): (34, 24) on the screen.
      QCOMPARE(StripeRow(shot, QPoint(32, 30), 36), QString(".." + Expected(32) + ".."));
      QCOMPARE(StripeRow(shot, QPoint(34, 22), 32), QString(32, u'.'));
      QCOMPARE(StripeRow(shot, QPoint(34, 56), 32), QString(32, u'.'));
    }
  }

  void DisabledLookIsDrawnAtTheScreensPixels() {
    TFlatButton button;
    button.SetPicture(Stripes());
    button.setEnabled(false);
    const QImage shot = button.grab().toImage();
    // The shadow silhouette in place, the highlight one a whole (two-pixel) step right and down:
    // both keep the one-pixel stripes.
    const QRgb shadow = button.palette().color(QPalette::Dark).rgb() & 0xFFFFFF;
    for (int x = 0; x < 32; ++x) {
      const QRgb pixel = shot.pixel(34 + x, 30) & 0xFFFFFF;
      QVERIFY2((x % 2 == 1) == (pixel == shadow), qPrintable(QString::number(x)));
    }
  }

  void PicturesTakeTheirPlaceInDeviceIndependentPixels() {
    QImage plain(16, 16, QImage::Format_RGB32);
    plain.fill(Qt::white);
    TFlatButton at1x(QStringLiteral("Calendar"));
    at1x.SetLayout(TFlatButton::blBitmapLeft);
    at1x.SetBitmap(plain);
    TFlatButton drawn(QStringLiteral("Calendar"));
    drawn.SetLayout(TFlatButton::blBitmapLeft);
    drawn.SetPicture(Stripes());
    QCOMPARE(drawn.sizeHint(), at1x.sizeHint());

    // A bitmap rendered for this screen by its owner (the Show DONE pictures) counts the same.
    QImage sharp = Stripes().pixmap(QSize(16, 16), 2.0).toImage();
    QCOMPARE(sharp.devicePixelRatio(), 2.0);
    TFlatButton given;
    given.SetOptions({});
    given.SetBitmap(sharp);
    QCOMPARE(given.sizeHint(), TFlatButton().sizeHint());
    QCOMPARE(StripeRow(given.grab().toImage(), QPoint(34, 30), 32), Expected(32));
  }

  void BitmapReplacesThePictureAndAnEmptyPictureShowsNone() {
    TFlatButton button;
    button.SetPicture(Stripes());
    QVERIFY(!button.Picture().isNull());
    QVERIFY(!button.GreyBitmap().isNull());
    QImage plain(8, 8, QImage::Format_RGB32);
    plain.fill(Qt::white);
    button.SetBitmap(plain);
    QVERIFY(button.Picture().isNull());
    QCOMPARE(button.Bitmap().size(), QSize(8, 8));
    button.SetPicture(QIcon());
    QVERIFY(button.Bitmap().isNull());
    QVERIFY(button.GreyBitmap().isNull());
  }
};

int main(int argc, char* argv[]) {
  // The scale is read when the application starts.
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  FlatButtonScaledTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_FlatButtonScaled.moc"
