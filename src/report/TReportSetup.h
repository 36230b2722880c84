#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

class QCheckBox;
class QColorDialog;
class QFileDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QStackedWidget;
class QTabBar;
class TFlatButton;
class TGraphicPanel;
class TPopupHelp;
class PrinterSetup;
class TableDataSet;
class TTableEngine;

// The report dialog: the printed report, its preview and the three export files of the task
// list as the main window shows it. It remembers the four titles and the three export file
// names in the report settings file, and only after a successful export; the check boxes, the
// page background colour and the chosen page start afresh at every opening.
//
// The printed report and its preview are run through the hooks below. Whoever opens the dialog
// puts the program's printing in place (ReportPrinting::Install) or a test's own; the dialog
// itself knows nothing of printers, and while a hook is unset its button is disabled.
class TReportSetup : public QDialog {
  Q_OBJECT
 public:
  TReportSetup(TableDataSet& table, TTableEngine& engine, QWidget* parent = nullptr);
  ~TReportSetup() override;

  // 0 while open, 1 after Ok; exec() returns it.
  int ModalResult = 0;

  // The installed printers; the platform's list unless a test puts another in place.
  std::function<QStringList()> InstalledPrinters;
  // The print dialog; true when the user confirmed it.
  std::function<bool(TReportSetup&)> RunPrintDialog;
  // The printed report or its preview, according to PrintToPrinter().
  std::function<void(TReportSetup&)> RunReport;
  // The platform's printer setup dialog.
  std::function<void(TReportSetup&)> RunPrinterSetup;

  bool PrintToPrinter() const { return printToPrinter_; }
  // The task table the reports walk.
  TableDataSet& Table() const { return table_; }
  TTableEngine& Engine() const { return engine_; }
  QString HtmlColorText() const { return htmlColorText_; }
  QString HtmlFilePath() const { return htmlFilePath_; }
  QString RtfFilePath() const { return rtfFilePath_; }
  QString TextFilePath() const { return textFilePath_; }
  // What the printed report is handed.
  QString ReportTitle() const;
  bool PrintNotes() const;
  bool PrintCheckbox() const;
  bool DoubleSpaced() const;

  void LoadPreferences();
  // False (after the message) when the settings file could not be written.
  bool SavePreferences();
  void DoPrint();

  // The exports, called by the Save As handlers; false after a failure, whose message has been
  // shown.
  bool CopyHTML(const QString& fileName, const QString& colorText, const QString& title);
  bool CopyRTF(const QString& fileName, const QString& title);
  bool CopyText(const QString& fileName, const QString& title);

  void reject() override;

 protected:
  // Show the platform dialogs modally; tests answer them instead of a person.
  virtual bool ExecSaveDialog(QFileDialog& dialog);
  virtual void ExecColorDialog(QColorDialog& dialog);

 private:
  enum class Format { Html, Rtf, Text };

  void FormActivate();
  void TabSet1Click(int index);
  void ColorPanelClick();
  void HTMLSaveAsClick();
  void SaveAsRTFClickClick();
  void SaveAsTextClick();
  void SaveExport(Format format);
  void PrintNowClick();
  void PreviewbuttonClick();
  void PrintSetupClick();
  void ReturnButtonClick();
  void HelpbuttonClick();
  void MouseHelpButtonClick();
  void TakeDialogColor();
  bool NoPrinters();
  void SetCommandsEnabled(bool on);
  void UpdatePrintButtons();

  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

  TableDataSet& table_;
  TTableEngine& engine_;

 public:
  // Controls, named as the tests find them.
  QStackedWidget* Notebook1 = nullptr;
  QTabBar* TabSet1 = nullptr;
  QLabel* TitleFieldLabel = nullptr;
  QLineEdit* ReportTitleField = nullptr;
  QCheckBox* PrintMemoBox = nullptr;
  QCheckBox* PrintCheckBox = nullptr;
  QCheckBox* DoubleSpace = nullptr;
  TFlatButton* PrintNow = nullptr;
  TFlatButton* Previewbutton = nullptr;
  TFlatButton* PrintSetup = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* HTMLPageTitle = nullptr;
  QCheckBox* HTMLDoNotes = nullptr;
  TGraphicPanel* ColorPanel = nullptr;
  TFlatButton* HTMLSaveAs = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* RTFPageTitle = nullptr;
  QCheckBox* RTFDoNotes = nullptr;
  TFlatButton* SaveAsRTFClick = nullptr;
  QLabel* Label4 = nullptr;
  QLineEdit* TextPageTitle = nullptr;
  QCheckBox* TextDoNotes = nullptr;
  TFlatButton* SaveAsText = nullptr;
  TFlatButton* ReturnButton = nullptr;
  TFlatButton* Helpbutton = nullptr;
  TFlatButton* MouseHelpButton = nullptr;
  TPopupHelp* PopupHelp1 = nullptr;
  // The print and printer setup dialogs, and the page orientation handed to the report.
  PrinterSetup* PrinterSetup1 = nullptr;
  QMenu* WhatsThisMenu = nullptr;
  QColorDialog* ColorDialog1 = nullptr;

 private:
  bool printToPrinter_ = false;
  bool exporting_ = false;
  unsigned colorValue_ = 0x80FFFF;  // blue, green, red from the high byte down
  QString htmlColorText_;
  QString htmlFilePath_;
  QString rtfFilePath_;
  QString textFilePath_;
};
