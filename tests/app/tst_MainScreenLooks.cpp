// The main window's looks: its buttons' drawn pictures, the program icon, and tool-bar buttons
// that stay in place while others are hidden.

#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include "MainScreenFixture.h"
#include "app/AppPictures.h"
#include "app/TMainScreen.h"
#include "db/DateTimeValue.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"
#include "widgets/TFlatButton.h"

namespace {

// Opaque pixels: a picture that rendered to nothing has none.
int Opaque(const QImage& image) {
  int count = 0;
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < argb.height(); ++y)
    for (int x = 0; x < argb.width(); ++x)
      if (qAlpha(argb.pixel(x, y)) == 255) ++count;
  return count;
}

}  // namespace

class MainScreenLooksTest : public QObject {
  Q_OBJECT
 private:
  RecordedMessages messages_;
  std::unique_ptr<QTemporaryDir> dir_;

  std::unique_ptr<TMainScreen> OpenIn(const QList<Task>& tasks) {
    dir_ = std::make_unique<QTemporaryDir>();
    StoreHelpers::SetDataDirectory(dir_->path());
    return OpenMainScreen(tasks, dir_->path(), "[Reindex]\nNeeded=0\n");
  }

  static QList<TFlatButton*> ToolBar(TMainScreen& w) {
    QList<TFlatButton*> buttons;
    for (const char* name : {"Editbutton", "Newbutton", "CloneButton", "DeleteButton", "Filterbutton", "OrderButton",
                             "DoneToggleButton", "Printbutton", "CalendarButton"})
      buttons << Control<TFlatButton>(w, name);
    return buttons;
  }

 private slots:
  void init() {
    UserMessages::Install(&messages_);
    FixtureToday() = (DateTimeValue::EncodeDate(2024, 2, 29));
  }
  void cleanup() {
    UserMessages::Install(nullptr);
    StoreHelpers::SetDataDirectory(QString());
    FixtureToday() = (0);
  }

  void everyButtonHasItsOwnDrawnPicture() {
    auto w = OpenIn({{"20240301", "", "a task", false, "", "B", ""}});
    QVERIFY(w);
    QList<TFlatButton*> buttons = ToolBar(*w);
    for (const char* name : {"ExitButton", "Helpbutton", "MouseHelpbutton"}) buttons << Control<TFlatButton>(*w, name);
    const qreal ratio = w->devicePixelRatioF();
    QList<QImage> seen;
    for (TFlatButton* b : buttons) {
      const QString name = b->objectName();
      QVERIFY2(!b->Picture().isNull(), qPrintable(name));
      const QImage bitmap = b->Bitmap();
      QCOMPARE(bitmap.deviceIndependentSize(), QSizeF(16, 16));
      QCOMPARE(bitmap.devicePixelRatio(), ratio);
      // The top-left pixel is the transparent colour: it must be see-through, or every pixel of
      // its colour would vanish from the picture.
      QVERIFY2(qAlpha(bitmap.pixel(0, 0)) == 0, qPrintable(name));
      QVERIFY2(Opaque(bitmap) > 20, qPrintable(name));
      QVERIFY2(!seen.contains(bitmap), qPrintable(name));
      seen << bitmap;
    }
    // The tool bar's pictures stand left of their captions.
    for (TFlatButton* b : ToolBar(*w)) QCOMPARE(b->Layout(), TFlatButton::blBitmapLeft);

    // Show DONE and Hide DONE: two different pictures, the button showing the one for its state.
    const QImage show = Control<QLabel>(*w, "Showbmp")->pixmap().toImage();
    const QImage hide = Control<QLabel>(*w, "Hidebmp")->pixmap().toImage();
    QVERIFY(Opaque(show) > 20 && Opaque(hide) > 20);
    QVERIFY(show != hide);
    QCOMPARE(qAlpha(show.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(hide.pixel(0, 0)), 0);
    QCOMPARE(Control<TFlatButton>(*w, "ShowDone")->Bitmap(), show);
  }

  void programIconDrawsAtAnySize() {
    const QIcon icon = AppPictures::ProgramIcon();
    QVERIFY(!icon.isNull());
    for (int size : {16, 32, 48, 256}) {
      const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
      QCOMPARE(image.size(), QSize(size, size));
      QVERIFY(Opaque(image) > size * size / 3);
    }
    // A picture the program does not have is no picture, not an empty square.
    QVERIFY(AppPictures::Picture(QStringLiteral("no-such-picture")).isNull());
  }

  void hiddenTaskButtonsLeaveTheOthersInPlace() {
    QList<int> shown;
    {
      auto w = OpenIn({{"20240301", "", "a task", false, "", "B", ""}});
      QVERIFY(w);
      for (TFlatButton* b : ToolBar(*w)) {
        QVERIFY2(b->isVisible(), qPrintable(b->objectName()));
        shown << b->x();
      }
    }
    auto w = OpenIn({});
    QVERIFY(w);
    // An empty list hides the commands on a task; what stays does not move.
    const QList<TFlatButton*> buttons = ToolBar(*w);
    for (int i = 0; i < buttons.size(); ++i) {
      TFlatButton* b = buttons[i];
      const bool kept = b->objectName() == "Newbutton" || b->objectName() == "Filterbutton" ||
                        b->objectName() == "OrderButton";
      QCOMPARE(b->isVisible(), kept);
      if (kept) QCOMPARE(b->x(), shown[i]);
    }
  }
};

QTEST_MAIN(MainScreenLooksTest)
#include "tst_MainScreenLooks.moc"
