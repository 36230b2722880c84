#include "report/TReportSetup.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStackedWidget>
#include <QTabBar>

#include "db/Cp1252.h"
#include "db/EDatabaseError.h"
#include "db/TableDataSet.h"
#include "db/TTableEngine.h"
#include "widgets/TGraphicPanel.h"
#include "platform/UserMessages.h"
#include "report/NoteLines.h"
#include "render/PrinterSetup.h"
#include "report/ReportRunGuard.h"
#include "report/TaskExporter.h"
#include "store/ReportPreferences.h"
#include "store/StoreHelpers.h"
#include "widgets/AccessibleNames.h"
#include "widgets/TFlatButton.h"
#include "widgets/HelpWindow.h"
#include "widgets/TPopupHelp.h"

namespace {

constexpr int kHelpContext = 1007;
constexpr int kClientWidth = 607;
constexpr int kClientHeight = 421;
constexpr unsigned kStartColor = 0x80FFFF;  // light yellow: red 255, green 255, blue 128

TFlatButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const QRect& r) {
  auto* b = new TFlatButton(caption, parent);
  b->setObjectName(QLatin1String(name));
  b->setGeometry(r);
  return b;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, const QPoint& at) {
  auto* l = new QLabel(caption, parent);
  l->setObjectName(QLatin1String(name));
  l->move(at);
  l->adjustSize();
  return l;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QRect& r) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QLatin1String(name));
  e->setGeometry(r);
  return e;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption, const QPoint& at) {
  auto* c = new QCheckBox(caption, parent);
  c->setObjectName(QLatin1String(name));
  c->move(at);
  c->adjustSize();
  return c;
}

QWidget* MakePage(QStackedWidget* book, const char* name) {
  auto* page = new QFrame(book);
  page->setObjectName(QLatin1String(name));
  page->setFrameStyle(QFrame::Panel | QFrame::Raised);
  book->addWidget(page);
  return page;
}

QColor ColorOf(unsigned value) {
  return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

}  // namespace

TReportSetup::TReportSetup(TableDataSet& table, TTableEngine& engine, QWidget* parent)
    : QDialog(parent), table_(table), engine_(engine) {
  setObjectName(QStringLiteral("ReportSetup"));
  setWindowTitle(QStringLiteral("Print Report"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFont(NoteLines::DialogFont());
  setFixedSize(kClientWidth, kClientHeight);

  PrinterSetup1 = new PrinterSetup(this);
  PrinterSetup1->setObjectName(QStringLiteral("PrinterSetup1"));

  constexpr int kBookHeight = 340;
  Notebook1 = new QStackedWidget(this);
  Notebook1->setObjectName(QStringLiteral("Notebook1"));
  Notebook1->setGeometry(0, 0, kClientWidth, kBookHeight);
  TabSet1 = new QTabBar(this);
  TabSet1->setObjectName(QStringLiteral("TabSet1"));
  TabSet1->setShape(QTabBar::RoundedSouth);
  TabSet1->setDrawBase(false);
  for (const char* tab : {"Printed Report", "HTML Document", "RTF File", "Text File"})
    TabSet1->addTab(QLatin1String(tab));
  TabSet1->setGeometry(0, kBookHeight, kClientWidth, 26);
  connect(TabSet1, &QTabBar::currentChanged, this, &TReportSetup::TabSet1Click);

  // Printed report.
  QWidget* page = MakePage(Notebook1, "PrintedReportPage");
  TitleFieldLabel = MakeLabel(page, "TitleFieldLabel", QStringLiteral("Report Title"), {24, 24});
  ReportTitleField = MakeEdit(page, "ReportTitleField", QRect(24, 42, 400, 21));
  PrintMemoBox = MakeCheck(page, "PrintMemoBox", QStringLiteral("Print Notes"), {24, 84});
  PrintCheckBox = MakeCheck(page, "PrintCheckBox", QStringLiteral("Print Checkbox"), {24, 110});
  DoubleSpace = MakeCheck(page, "DoubleSpace", QStringLiteral("Double Spaced"), {24, 136});
  PrintNow = MakeButton(page, "PrintNow", QStringLiteral("Print"), QRect(460, 42, 110, 25));
  Previewbutton =
      MakeButton(page, "Previewbutton", QStringLiteral("Preview"), QRect(460, 78, 110, 25));
  PrintSetup =
      MakeButton(page, "PrintSetup", QStringLiteral("Printer Setup"), QRect(460, 114, 110, 25));
  connect(PrintNow, &TFlatButton::clicked, this, &TReportSetup::PrintNowClick);
  connect(Previewbutton, &TFlatButton::clicked, this, &TReportSetup::PreviewbuttonClick);
  connect(PrintSetup, &TFlatButton::clicked, this, &TReportSetup::PrintSetupClick);

  // HTML page.
  page = MakePage(Notebook1, "HTMLPage");
  Label2 = MakeLabel(page, "Label2", QStringLiteral("HTML Page Title"), {24, 24});
  HTMLPageTitle = MakeEdit(page, "HTMLPageTitle", QRect(24, 42, 400, 21));
  HTMLDoNotes = MakeCheck(page, "HTMLDoNotes", QStringLiteral("Copy Notes"), {24, 84});
  ColorPanel = new TGraphicPanel(page);
  ColorPanel->setObjectName(QStringLiteral("ColorPanel"));
  ColorPanel->SetCaption(QStringLiteral("Background Color (click to change)"));
  ColorPanel->setGeometry(24, 120, 240, 41);
  connect(ColorPanel, &TGraphicPanel::Click, this, &TReportSetup::ColorPanelClick);
  HTMLSaveAs = MakeButton(page, "HTMLSaveAs", QStringLiteral("Save As"), QRect(460, 42, 110, 25));
  connect(HTMLSaveAs, &TFlatButton::clicked, this, &TReportSetup::HTMLSaveAsClick);

  // RTF document.
  page = MakePage(Notebook1, "RTFPage");
  Label3 = MakeLabel(page, "Label3", QStringLiteral("RTF Page Title"), {24, 24});
  RTFPageTitle = MakeEdit(page, "RTFPageTitle", QRect(24, 42, 400, 21));
  RTFDoNotes = MakeCheck(page, "RTFDoNotes", QStringLiteral("Copy Notes"), {24, 84});
  SaveAsRTFClick =
      MakeButton(page, "SaveAsRTFClick", QStringLiteral("Save As"), QRect(460, 42, 110, 25));
  connect(SaveAsRTFClick, &TFlatButton::clicked, this, &TReportSetup::SaveAsRTFClickClick);

  // Text file.
  page = MakePage(Notebook1, "TextPage");
  Label4 = MakeLabel(page, "Label4", QStringLiteral("Text File Page Title"), {24, 24});
  TextPageTitle = MakeEdit(page, "TextPageTitle", QRect(24, 42, 400, 21));
  TextDoNotes = MakeCheck(page, "TextDoNotes", QStringLiteral("Copy Notes"), {24, 84});
  SaveAsText = MakeButton(page, "SaveAsText", QStringLiteral("Save As"), QRect(460, 42, 110, 25));
  connect(SaveAsText, &TFlatButton::clicked, this, &TReportSetup::SaveAsTextClick);
  // The pages' command buttons have no accelerator letter: Tab reaches them, Space presses them.
  for (TFlatButton* b : {PrintNow, Previewbutton, PrintSetup, HTMLSaveAs, SaveAsRTFClick, SaveAsText})
    b->setFocusPolicy(Qt::TabFocus);

  // Button bar.
  auto* bar = new QFrame(this);
  bar->setObjectName(QStringLiteral("Panel1"));
  bar->setFrameStyle(QFrame::Panel | QFrame::Raised);
  bar->setGeometry(0, kBookHeight + 30, kClientWidth, kClientHeight - kBookHeight - 30);
  const int top = (bar->height() - 25) / 2;
  MouseHelpButton =
      MakeButton(bar, "MouseHelpButton", QString(), QRect(kClientWidth - 8 - 27, top, 27, 25));
  MouseHelpButton->SetBitmap(TPopupHelp::QuestionImage());
  Helpbutton = MakeButton(bar, "Helpbutton", QStringLiteral("Help"),
                          QRect(MouseHelpButton->x() - 6 - 75, top, 75, 25));
  ReturnButton = MakeButton(bar, "ReturnButton", QStringLiteral("Ok"),
                            QRect(Helpbutton->x() - 6 - 75, top, 75, 25));
  // One button closes the dialog, by Enter as well as by Escape.
  ReturnButton->SetDefault(true);
  ReturnButton->SetCancel(true);
  connect(ReturnButton, &TFlatButton::clicked, this, &TReportSetup::ReturnButtonClick);
  connect(Helpbutton, &TFlatButton::clicked, this, &TReportSetup::HelpbuttonClick);
  connect(MouseHelpButton, &TFlatButton::clicked, this, &TReportSetup::MouseHelpButtonClick);

  ColorDialog1 = new QColorDialog(this);
  ColorDialog1->setObjectName(QStringLiteral("ColorDialog1"));
  ColorDialog1->setOption(QColorDialog::DontUseNativeDialog);

  PopupHelp1 = new TPopupHelp(this);
  PopupHelp1->InstallHelpKeys(kHelpContext);
  const std::pair<const char*, const char*> texts[] = {
      {"ColorPanel", "Click here to change the background color for the HTML document"},
      {"DoubleSpace", "Select this option to use double-space printing"},
      {"HTMLDoNotes", "Check here to write the notes (memo) as part of the HTML document"},
      {"HTMLPageTitle", "Enter the HTML page title here"},
      {"HTMLSaveAs", "Click here to save the current Tasq List as an HTML file"},
      {"Previewbutton", "Click here to preview the printed report"},
      {"PrintCheckBox",
       "Select this option to also print a small checkbox next to each task (for your use in "
       "checking them off)"},
      {"PrintMemoBox", "Select this option to also print the notes information"},
      {"PrintNow", "Click here to print the list now."},
      {"PrintSetup", "Click here to set up the printer prior to printing the list."},
      {"ReportTitleField", "Enter a title to be printed at the top of the report"},
      {"ReturnButton", "Click here to return to the main screen"},
      {"RTFDoNotes", "Check here to write the notes (memo) as part of the RTF file"},
      {"RTFPageTitle", "Enter a title to print on the top of the RTF file page here"},
      {"SaveAsRTFClick", "Click here to save the current Tasq List as an RTF file"},
      {"SaveAsText", "Click here to save the current Tasq List as a text file (ASCII)"},
      {"TextDoNotes", "Check here to write the notes (memo) as part of the text file"},
      {"TextPageTitle", "Enter a title for the text file page here"},
  };
  for (const auto& [name, text] : texts)
    PopupHelp1->AddHelp(QLatin1String(name), QLatin1String(text));
  PopupHelp1->DescribeControls();  // for screen readers
  NameControls(this, {{"TabSet1", "Kind of report", "Printed, or saved as an HTML document, an RTF file or a text file"},
                      {"ColorPanel", "Background colour", nullptr},
                      {"ReportTitleField", "Report title", nullptr},
                      {"HTMLPageTitle", "HTML page title", nullptr},
                      {"RTFPageTitle", "RTF page title", nullptr},
                      {"TextPageTitle", "Text file page title", nullptr},
                      {"Helpbutton", "Help", "Opens the help window at the report setup"},
                      {"MouseHelpButton", "What's this?", "Click here, then on a control, to see what it is for"}});
  WhatsThisMenu = TPopupHelp::CreateWhatsThisMenu(this);
  for (QWidget* control : std::initializer_list<QWidget*>{
           TitleFieldLabel, ReportTitleField, PrintMemoBox, PrintCheckBox,   DoubleSpace,
           PrintNow,        Previewbutton,    PrintSetup,   Label2,          HTMLPageTitle,
           HTMLDoNotes,     ColorPanel,       HTMLSaveAs,   Label3,          RTFPageTitle,
           RTFDoNotes,      SaveAsRTFClick,   Label4,       TextPageTitle,   TextDoNotes,
           SaveAsText,      ReturnButton,     Helpbutton,   MouseHelpButton, TabSet1})
    TPopupHelp::SetWhatsThisMenu(control, WhatsThisMenu);

  // The opening state: stored titles and paths, the light yellow background, the first page.
  LoadPreferences();
  colorValue_ = kStartColor;
  ColorDialog1->setCurrentColor(ColorOf(colorValue_));
  TakeDialogColor();
  TabSet1->setCurrentIndex(0);
  Notebook1->setCurrentIndex(0);
  UpdatePrintButtons();
}

TReportSetup::~TReportSetup() = default;

QString TReportSetup::ReportTitle() const {
  return ReportTitleField->text();
}
bool TReportSetup::PrintNotes() const {
  return PrintMemoBox->isChecked();
}
bool TReportSetup::PrintCheckbox() const {
  return PrintCheckBox->isChecked();
}
bool TReportSetup::DoubleSpaced() const {
  return DoubleSpace->isChecked();
}

void TReportSetup::LoadPreferences() {
  const ReportPreferences p = ReportPreferences::Load();
  ReportTitleField->setText(p.reportTitle);
  HTMLPageTitle->setText(p.htmlTitle);
  RTFPageTitle->setText(p.rtfTitle);
  TextPageTitle->setText(p.textTitle);
  htmlFilePath_ = p.htmlFilespec;
  rtfFilePath_ = p.rtfFilespec;
  textFilePath_ = p.textFilespec;
}

bool TReportSetup::SavePreferences() {
  ReportPreferences p;
  p.reportTitle = ReportTitleField->text();
  p.htmlTitle = HTMLPageTitle->text();
  p.rtfTitle = RTFPageTitle->text();
  p.textTitle = TextPageTitle->text();
  p.htmlFilespec = htmlFilePath_;
  p.rtfFilespec = rtfFilePath_;
  p.textFilespec = textFilePath_;
  return p.Save();
}

void TReportSetup::TakeDialogColor() {
  const QColor c = ColorDialog1->currentColor();
  colorValue_ = unsigned(c.red()) | unsigned(c.green()) << 8 | unsigned(c.blue()) << 16;
  htmlColorText_ = QStringLiteral("%1%2%3")
                       .arg(c.red(), 2, 16, QLatin1Char('0'))
                       .arg(c.green(), 2, 16, QLatin1Char('0'))
                       .arg(c.blue(), 2, 16, QLatin1Char('0'))
                       .toUpper();
  ColorPanel->SetColor(c);
}

void TReportSetup::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
  QDialog::changeEvent(event);
}

void TReportSetup::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The printing hooks are set after the dialog is built, before it is shown.
  UpdatePrintButtons();
  FormActivate();
}

void TReportSetup::FormActivate() {
  PopupHelp1->SetColor(palette().color(QPalette::Base));
}

void TReportSetup::TabSet1Click(int index) {
  Notebook1->setCurrentIndex(index);
}

void TReportSetup::ColorPanelClick() {
  ColorDialog1->setCurrentColor(ColorOf(colorValue_));
  ExecColorDialog(*ColorDialog1);
  // Cancelling the dialog leaves its colour where it was opened, so this keeps the old one.
  TakeDialogColor();
}

void TReportSetup::ExecColorDialog(QColorDialog& dialog) {
  const QColor start = dialog.currentColor();
  if (dialog.exec() != QDialog::Accepted) dialog.setCurrentColor(start);
}

bool TReportSetup::ExecSaveDialog(QFileDialog& dialog) {
  return dialog.exec() == QDialog::Accepted;
}

void TReportSetup::HTMLSaveAsClick() {
  SaveExport(Format::Html);
}
void TReportSetup::SaveAsRTFClickClick() {
  SaveExport(Format::Rtf);
}
void TReportSetup::SaveAsTextClick() {
  SaveExport(Format::Text);
}

void TReportSetup::SaveExport(Format format) {
  if (exporting_ || ReportRunGuard::Running()) return;
  QString* remembered = nullptr;
  QString filter, suffix;
  QLineEdit* titleBox = nullptr;
  switch (format) {
    case Format::Html:
      remembered = &htmlFilePath_, filter = QStringLiteral("HTM Document (*.htm)");
      suffix = QStringLiteral("htm"), titleBox = HTMLPageTitle;
      break;
    case Format::Rtf:
      remembered = &rtfFilePath_, filter = QStringLiteral("RTF Document (*.rtf)");
      suffix = QStringLiteral("rtf"), titleBox = RTFPageTitle;
      break;
    case Format::Text:
      remembered = &textFilePath_, filter = QStringLiteral("Text File (*.txt)");
      suffix = QStringLiteral("txt"), titleBox = TextPageTitle;
      break;
  }
  const QString title = titleBox->text();
  // The page and the document can carry any character; the text file only the code page's.
  if (format == Format::Text) {
    const QChar bad = Cp1252::FirstUnencodable(title);
    if (!bad.isNull()) {
      UserMessages::ShowInformation(
          QStringLiteral("The title holds the character \"%1\", which a text file cannot "
                         "hold.\rPlease change the title.")
              .arg(bad));
      return;
    }
  }

  const QFileInfo offered(*remembered);
  QFileDialog dialog(this, QString(), offered.path(), filter);
  dialog.setObjectName(QStringLiteral("SaveDialog1"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(suffix);
  dialog.selectFile(offered.fileName());
  if (!ExecSaveDialog(dialog) || dialog.selectedFiles().isEmpty()) return;
  const QString chosen = QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();

  SetCommandsEnabled(false);
  exporting_ = true;
  bool ok = false;
  switch (format) {
    case Format::Html:
      ok = CopyHTML(chosen, htmlColorText_, title);
      break;
    case Format::Rtf:
      ok = CopyRTF(chosen, title);
      break;
    case Format::Text:
      ok = CopyText(chosen, title);
      break;
  }
  exporting_ = false;
  SetCommandsEnabled(true);
  if (!ok) return;
  UserMessages::ShowInformation(QStringLiteral("Saved as ") + chosen);
  *remembered = chosen;
  SavePreferences();
}

bool TReportSetup::CopyHTML(const QString& fileName, const QString& colorText,
                            const QString& title) {
  TaskExporter exporter(table_, engine_);
  exporter.SetNoteFont(font());
  return exporter.CopyHTML(fileName, colorText, title, HTMLDoNotes->isChecked());
}

bool TReportSetup::CopyRTF(const QString& fileName, const QString& title) {
  TaskExporter exporter(table_, engine_);
  exporter.SetNoteFont(font());
  return exporter.CopyRTF(fileName, title, RTFDoNotes->isChecked());
}

bool TReportSetup::CopyText(const QString& fileName, const QString& title) {
  TaskExporter exporter(table_, engine_);
  exporter.SetNoteFont(font());
  return exporter.CopyText(fileName, title, TextDoNotes->isChecked());
}

void TReportSetup::SetCommandsEnabled(bool on) {
  for (TFlatButton* b : {HTMLSaveAs, SaveAsRTFClick, SaveAsText, ReturnButton}) b->setEnabled(on);
  ColorPanel->setEnabled(on);
  if (on)
    UpdatePrintButtons();
  else
    for (TFlatButton* b : {PrintNow, Previewbutton, PrintSetup}) b->setEnabled(false);
}

void TReportSetup::UpdatePrintButtons() {
  PrintNow->setEnabled(bool(RunReport));
  Previewbutton->setEnabled(bool(RunReport));
  PrintSetup->setEnabled(bool(RunPrinterSetup));
}

bool TReportSetup::NoPrinters() {
  if (InstalledPrinters && !InstalledPrinters().isEmpty()) return false;
  UserMessages::ShowInformation(QStringLiteral("There are no printers installed"));
  return true;
}

void TReportSetup::PrintNowClick() {
  if (NoPrinters() || exporting_) return;
  printToPrinter_ = true;
  if (RunPrintDialog && !RunPrintDialog(*this)) return;
  DoPrint();
}

void TReportSetup::PreviewbuttonClick() {
  if (NoPrinters() || exporting_) return;
  printToPrinter_ = false;
  DoPrint();
}

void TReportSetup::PrintSetupClick() {
  if (NoPrinters()) return;
  if (RunPrinterSetup) RunPrinterSetup(*this);
}

void TReportSetup::DoPrint() {
  ReportRunGuard guard;
  if (!guard.Acquired() || !RunReport) return;
  // The report walks the table on its own; the grid must not follow it, and the user's task is
  // current again afterwards.
  const long recno = engine_.DatasetRecordNumber();
  table_.DisableControls();
  try {
    table_.First();
    RunReport(*this);
    if (recno > 0) engine_.GotoRecord(recno);
  } catch (const EDatabaseError&) {
    // Not finding the task again leaves the table where the report stopped.
  }
  table_.EnableControls();
}

void TReportSetup::ReturnButtonClick() {
  if (exporting_) return;
  ModalResult = 1;
  done(ModalResult);
}

void TReportSetup::reject() {
  // Escape means Ok here; an export in progress finishes first.
  ReturnButtonClick();
}

void TReportSetup::HelpbuttonClick() {
  HelpWindow::ShowHelpContext(kHelpContext);
}

void TReportSetup::MouseHelpButtonClick() {
  PopupHelp1->StartHelpMode();
}
