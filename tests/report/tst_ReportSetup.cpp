// The report dialog: what a first opening shows, Save As for the three formats with what it
// remembers, the background colour, the printing commands without printers, and closing.

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTabBar>
#include <QTest>

#include "ReportTestTable.h"
#include "db/TTableEngine.h"
#include "widgets/TGraphicPanel.h"
#include "platform/UserMessages.h"
#include "report/ReportPrinting.h"
#include "report/TReportSetup.h"
#include "store/ReportPreferences.h"
#include "widgets/TFlatButton.h"
#include "../store/RecordingMessages.h"

namespace {

using Recorded = RecordingMessages;

// Answers the save and colour dialogs the way a test tells it to, and notes what they offered.
class Answered : public TReportSetup {
 public:
  using TReportSetup::TReportSetup;
  QString saveAs;  // empty: cancel
  QColor color;    // invalid: cancel
  QString offeredFolder, offeredName, offeredFilter;

 protected:
  bool ExecSaveDialog(QFileDialog& dialog) override {
    offeredFolder = dialog.directory().absolutePath();
    offeredName = dialog.selectedFiles().value(0);
    offeredFilter = dialog.nameFilters().join(QLatin1Char(';'));
    if (saveAs.isEmpty()) return false;
    dialog.selectFile(saveAs);
    return true;
  }
  void ExecColorDialog(QColorDialog& dialog) override {
    if (color.isValid()) dialog.setCurrentColor(color);
  }
};

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class ReportSetupTest : public QObject {
  Q_OBJECT
 private:
  Recorded messages_;

 private slots:
  void init() {
    messages_.shown.clear();
    UserMessages::Install(&messages_);
  }
  void cleanup() { UserMessages::Install(nullptr); }

  void firstOpening() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    Answered d(t.Table(), t.Engine());
    QCOMPARE(d.windowTitle(), QStringLiteral("Print Report"));
    QCOMPARE(d.size(), QSize(607, 421));
    for (const char* box : {"ReportTitleField", "HTMLPageTitle", "RTFPageTitle", "TextPageTitle"})
      QCOMPARE(d.findChild<QLineEdit*>(box)->text(), QStringLiteral("Listwise"));
    for (const char* box : {"PrintMemoBox", "PrintCheckBox", "DoubleSpace", "HTMLDoNotes",
                            "RTFDoNotes", "TextDoNotes"})
      QVERIFY(!d.findChild<QCheckBox*>(box)->isChecked());
    QCOMPARE(d.HtmlColorText(), QStringLiteral("FFFF80"));
    QCOMPARE(d.TabSet1->count(), 4);
    QCOMPARE(d.TabSet1->tabText(3), QStringLiteral("Text File"));
    QCOMPARE(d.TabSet1->currentIndex(), 0);
    d.TabSet1->setCurrentIndex(2);
    QCOMPARE(d.Notebook1->currentIndex(), 2);

    const QString dir = QDir(t.Path(QString())).absolutePath();
    const std::pair<const char*, const char*> offers[] = {
        {"HTMLSaveAs", "Tasq.htm"}, {"SaveAsRTFClick", "Tasq.rtf"}, {"SaveAsText", "Tasq.txt"}};
    for (const auto& [button, name] : offers) {
      d.findChild<TFlatButton*>(button)->click();
      QCOMPARE(d.offeredFolder, dir);
      QCOMPARE(QFileInfo(d.offeredName).fileName(), QLatin1String(name));
    }
    QCOMPARE(d.offeredFilter, QStringLiteral("Text File (*.txt)"));
    // Cancelled: nothing written, nothing said.
    QVERIFY(messages_.shown.isEmpty());
    QVERIFY(!QFile::exists(t.Path(QStringLiteral("LWISE.INI"))));
  }

  void savedExportIsRemembered() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    t.Add({"20240301", "10:00", "Water the plants", "B", false, "", ""});
    QVERIFY(QDir().mkdir(t.Path(QStringLiteral("out"))));
    const QString target =
        QDir(t.Path(QStringLiteral("out"))).absoluteFilePath(QStringLiteral("list.txt"));
    {
      Answered d(t.Table(), t.Engine());
      d.TextPageTitle->setText(QStringLiteral("Chores"));
      d.ReportTitleField->setText(QStringLiteral("Printed chores"));
      d.saveAs = target;
      d.SaveAsText->click();
      QCOMPARE(messages_.shown, QStringList{QStringLiteral("Saved as ") + target});
      QVERIFY(ReadAll(target).startsWith("Chores\r\n\r\n\r\nTask "));
      QCOMPARE(d.TextFilePath(), target);
    }
    const ReportPreferences p = ReportPreferences::Load();
    QCOMPARE(p.textFilespec, target);
    QCOMPARE(p.textTitle, QStringLiteral("Chores"));
    QCOMPARE(p.reportTitle, QStringLiteral("Printed chores"));

    Answered again(t.Table(), t.Engine());
    QCOMPARE(again.TextPageTitle->text(), QStringLiteral("Chores"));
    again.SaveAsText->click();
    QCOMPARE(again.offeredFolder, QFileInfo(target).path());
    QCOMPARE(QFileInfo(again.offeredName).fileName(), QStringLiteral("list.txt"));
  }

  void failedExportStoresNothing() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    Answered d(t.Table(), t.Engine());
    d.HTMLPageTitle->setText(QStringLiteral("Lost"));
    d.saveAs = t.Path(QStringLiteral("missing/page.htm"));
    d.HTMLSaveAs->click();
    QCOMPARE(messages_.shown, QStringList{QStringLiteral("File not found")});
    QVERIFY(!QFile::exists(t.Path(QStringLiteral("LWISE.INI"))));
    QVERIFY(d.HTMLSaveAs->isEnabled());
  }

  void backgroundColour() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    Answered d(t.Table(), t.Engine());
    d.color = QColor(0x12, 0xAB, 0xEF);
    QTest::mouseClick(d.ColorPanel, Qt::LeftButton);
    QCOMPARE(d.HtmlColorText(), QStringLiteral("12ABEF"));
    d.color = QColor();
    QTest::mouseClick(d.ColorPanel, Qt::LeftButton);
    QCOMPARE(d.HtmlColorText(), QStringLiteral("12ABEF"));
    const QString page = t.Path(QStringLiteral("page.htm"));
    d.saveAs = page;
    d.HTMLSaveAs->click();
    QVERIFY(ReadAll(page).contains("<BODY BGCOLOR=#12ABEF>\r\n"));
    // Never stored: the next opening starts light yellow again.
    QCOMPARE(Answered(t.Table(), t.Engine()).HtmlColorText(), QStringLiteral("FFFF80"));
  }

  void textTitleOutsideTheCodePageIsRefused() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    Answered d(t.Table(), t.Engine());
    d.TextPageTitle->setText(QString::fromUtf8("Tasks \u2713"));
    d.saveAs = t.Path(QStringLiteral("t.txt"));
    d.SaveAsText->click();
    QCOMPARE(messages_.shown.size(), 1);
    QVERIFY(messages_.shown.first().contains(QString::fromUtf8("\u2713")));
    QVERIFY(!QFile::exists(t.Path(QStringLiteral("t.txt"))));
  }

  void printingCommands() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    for (const char* d : {"First", "Second", "Third"})
      t.Add({"20240301", "", d, "A", false, "", ""});
    Answered d(t.Table(), t.Engine());
    // Without printing hooks the printing commands cannot be used.
    d.show();
    QVERIFY(!d.PrintNow->isEnabled() && !d.Previewbutton->isEnabled() && !d.PrintSetup->isEnabled());
    d.hide();
    ReportPrinting::Install(d);
    QVERIFY(d.InstalledPrinters && d.RunPrintDialog && d.RunReport && d.RunPrinterSetup);

    int runs = 0;
    QString seenFirst;
    d.RunReport = [&](TReportSetup& setup) {
      ++runs;
      seenFirst = t.Table().FieldByName(QStringLiteral("DESCRIPT"))->AsString();
      QVERIFY(!setup.PrintToPrinter());
      while (!t.Table().Eof()) t.Table().Next();
    };
    d.RunPrinterSetup = [&](TReportSetup&) { ++runs; };
    d.InstalledPrinters = [] { return QStringList(); };
    d.show();
    QVERIFY(d.PrintNow->isEnabled() && d.Previewbutton->isEnabled() && d.PrintSetup->isEnabled());
    // With no printers each command only tells so.
    for (TFlatButton* b : {d.PrintNow, d.Previewbutton, d.PrintSetup}) b->click();
    QCOMPARE(messages_.shown, QStringList(3, QStringLiteral("There are no printers installed")));
    QCOMPARE(runs, 0);

    // A preview starts at the first task and puts the user's task back afterwards.
    d.InstalledPrinters = [] { return QStringList{QStringLiteral("PDF")}; };
    t.Table().First();
    t.Table().Next();
    QCOMPARE(t.Table().FieldByName(QStringLiteral("DESCRIPT"))->AsString(),
             QStringLiteral("Second"));
    d.Previewbutton->click();
    QCOMPARE(runs, 1);
    QCOMPARE(seenFirst, QStringLiteral("First"));
    QCOMPARE(t.Table().FieldByName(QStringLiteral("DESCRIPT"))->AsString(),
             QStringLiteral("Second"));
  }

  void enterAndEscapeClose() {
    ReportTestTable t;
    QVERIFY(t.Opened());
    for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
      Answered d(t.Table(), t.Engine());
      d.show();
      QVERIFY(QTest::qWaitForWindowExposed(&d));
      QTest::keyClick(&d, Qt::Key(key));
      QCOMPARE(d.ModalResult, 1);
      QVERIFY(!d.isVisible());
    }
  }
};

QTEST_MAIN(ReportSetupTest)
#include "tst_ReportSetup.moc"
