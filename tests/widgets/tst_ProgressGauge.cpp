// The progress gauge: its bounds, the percentage, when it repaints, and what it draws.

#include <QApplication>
#include <QtTest>

#include "platform/UserMessages.h"
#include "widgets/TProgressGauge.h"

namespace {

class RecordingMessages final : public UserMessages {
 public:
  void Information(const QString&, const QString& text) override { shown.append(text); }
  bool YesNo(const QString&, const QString& text) override {
    shown.append(text);
    return false;
  }
  QStringList shown;
};

class PaintCounter final : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// Rendered pixel as 0xRRGGBB.
QRgb At(const QImage& image, int x, int y) {
  return image.pixel(x, y) & 0xFFFFFF;
}

}  // namespace

class ProgressGaugeTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { UserMessages::Install(&messages_); }
  void cleanup() {
    UserMessages::Install(nullptr);
    messages_.shown.clear();
  }

  void ProgressIsClampedToTheBounds() {
    TProgressGauge gauge;
    QCOMPARE(gauge.size(), QSize(100, 100));
    gauge.SetProgress(150);
    QCOMPARE(gauge.Progress(), 100);
    QCOMPARE(gauge.PercentDone(), 100);
    gauge.SetProgress(-5);
    QCOMPARE(gauge.Progress(), 0);
    QCOMPARE(gauge.PercentDone(), 0);
    gauge.AddProgress(std::numeric_limits<int>::max());
    QCOMPARE(gauge.Progress(), 100);
  }

  // clang-format off
  void PercentageIsTruncatedAndSafe_data() {
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("percent");
    QTest::newRow("truncated") << 0 << 3 << 2 << 66;
    QTest::newRow("offset range") << 50 << 150 << 75 << 25;
    QTest::newRow("empty range") << 0 << 0 << 0 << 0;
    QTest::newRow("range past int times 100") << 0 << 2000000000 << 1000000000 << 50;
    QTest::newRow("whole int range") << std::numeric_limits<int>::min()
                                     << std::numeric_limits<int>::max() << 0 << 50;
  }
  // clang-format on
  void PercentageIsTruncatedAndSafe() {
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(int, progress);
    QFETCH(int, percent);
    TProgressGauge gauge;
    // Widen first so that neither bound is refused on the way.
    QVERIFY(gauge.SetMaxValue(std::numeric_limits<int>::max()));
    QVERIFY(gauge.SetMinValue(min));
    QVERIFY(gauge.SetMaxValue(max));
    gauge.SetProgress(progress);
    QCOMPARE(gauge.PercentDone(), percent);
    QVERIFY(messages_.shown.isEmpty());
  }

  void BoundsOutOfOrderAreRefused() {
    TProgressGauge gauge;
    gauge.SetProgress(40);
    QVERIFY(!gauge.SetMinValue(101));
    QCOMPARE(messages_.shown, QStringList{"Value must be between -2147483647 and 99"});
    QCOMPARE(gauge.MinValue(), 0);
    QCOMPARE(gauge.Progress(), 40);

    messages_.shown.clear();
    QVERIFY(gauge.SetMinValue(10));
    QVERIFY(!gauge.SetMaxValue(9));
    QCOMPARE(messages_.shown, QStringList{"Value must be between 11 and 2147483647"});
    QCOMPARE(gauge.MaxValue(), 100);

    // Equal bounds are a valid, empty range.
    QVERIFY(gauge.SetMaxValue(10));
    QCOMPARE(gauge.Progress(), 10);
    QCOMPARE(gauge.PercentDone(), 0);
  }

  void NewBoundsPullTheProgressInside() {
    TProgressGauge gauge;
    gauge.SetProgress(50);
    QVERIFY(gauge.SetMinValue(60));
    QCOMPARE(gauge.Progress(), 60);
    gauge.SetProgress(90);
    QVERIFY(gauge.SetMaxValue(70));
    QCOMPARE(gauge.Progress(), 70);
    QCOMPARE(gauge.PercentDone(), 100);
  }

  void RepaintsOnlyWhenThePercentageChanges() {
    TProgressGauge gauge;
    QVERIFY(gauge.SetMaxValue(1000));
    gauge.show();
    QVERIFY(QTest::qWaitForWindowExposed(&gauge));
    PaintCounter counter;
    gauge.installEventFilter(&counter);
    auto settle = [] {
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents();
    };
    settle();
    counter.paints = 0;

    gauge.SetProgress(9);  // 0 % still
    settle();
    QCOMPARE(counter.paints, 0);
    gauge.SetProgress(10);  // 1 %
    QTRY_COMPARE(counter.paints, 1);
    gauge.SetProgress(19);  // 1 % still
    gauge.AddProgress(0);
    settle();
    QCOMPARE(counter.paints, 1);
    gauge.SetProgress(5000);  // clamped to 100 %
    QTRY_COMPARE(counter.paints, 2);
    gauge.SetProgress(6000);  // clamped to the same value: nothing at all
    settle();
    QCOMPARE(counter.paints, 2);
    // A new bound repaints when it moves the percentage, and only then.
    gauge.SetProgress(500);
    QTRY_COMPARE(counter.paints, 3);
    QVERIFY(gauge.SetMaxValue(1001));  // 500 of 1001: 49 %
    QCOMPARE(gauge.PercentDone(), 49);
    QTRY_COMPARE(counter.paints, 4);
    QVERIFY(gauge.SetMaxValue(1002));  // still 49 %
    settle();
    QCOMPARE(counter.paints, 4);
  }

  void BarsFillFromTheirStartEdge() {
    TProgressGauge gauge;
    gauge.resize(102, 52);  // a 100 x 50 area inside the border
    gauge.SetShowText(false);
    gauge.SetProgress(37);
    QImage image = gauge.RenderImage();
    QCOMPARE(At(image, 0, 0), 0x000000u);  // border
    QCOMPARE(At(image, 101, 51), 0x000000u);
    QCOMPARE(At(image, 1 + 36, 25), 0x000000u);  // last bar column
    QCOMPARE(At(image, 1 + 37, 25), 0xFFFFFFu);  // first empty column

    gauge.SetKind(TProgressGauge::gsVerticalBar);
    gauge.SetForeColor(Qt::red);
    gauge.SetProgress(50);
    image = gauge.RenderImage();
    QCOMPARE(At(image, 50, 50), 0xFF0000u);  // bottom row of the area
    QCOMPARE(At(image, 50, 26), 0xFF0000u);  // 25 rows high
    QCOMPARE(At(image, 50, 25), 0xFFFFFFu);

    gauge.SetBorderStyle(TProgressGauge::bsNone);
    gauge.SetProgress(0);
    image = gauge.RenderImage();
    QCOMPARE(At(image, 0, 0), 0xFFFFFFu);
    QCOMPARE(At(image, 101, 51), 0xFFFFFFu);
  }

  void PieSweepsClockwiseFromTheTop() {
    TProgressGauge gauge;
    gauge.resize(102, 102);
    gauge.SetShowText(false);
    gauge.SetKind(TProgressGauge::gsPie);
    gauge.SetColor(Qt::blue);
    gauge.SetProgress(25);
    const QImage image = gauge.RenderImage();
    QCOMPARE(At(image, 3, 3), 0x0000FFu);    // corner outside the ellipse
    QCOMPARE(At(image, 70, 30), 0x000000u);  // upper right quarter: the slice
    QCOMPARE(At(image, 30, 30), 0xFFFFFFu);  // upper left: still empty
    QCOMPARE(At(image, 70, 70), 0xFFFFFFu);  // lower right: not reached yet
  }

  void TextIsTheInverseOfWhatLiesBeneath() {
    TProgressGauge gauge;
    gauge.resize(200, 40);
    QFont font = gauge.font();
    font.setPixelSize(30);
    gauge.setFont(font);
    gauge.SetProgress(50);
    gauge.SetShowText(false);
    const QImage plain = gauge.RenderImage();
    gauge.SetShowText(true);
    const QImage text = gauge.RenderImage();
    // Every pixel is either untouched or exactly inverted, and the text crosses both the black
    // bar (white text) and the white empty part (black text).
    int white_on_bar = 0;
    int black_on_empty = 0;
    for (int y = 0; y < plain.height(); ++y) {
      for (int x = 0; x < plain.width(); ++x) {
        const QRgb below = At(plain, x, y);
        const QRgb shown = At(text, x, y);
        QVERIFY2(shown == below || shown == (below ^ 0xFFFFFFu),
                 qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
        if (shown != below && below == 0x000000u) ++white_on_bar;
        if (shown != below && below == 0xFFFFFFu) ++black_on_empty;
      }
    }
    QVERIFY(white_on_bar > 0);
    QVERIFY(black_on_empty > 0);
  }

 private:
  RecordingMessages messages_;
};

QTEST_MAIN(ProgressGaugeTest)
#include "tst_ProgressGauge.moc"
