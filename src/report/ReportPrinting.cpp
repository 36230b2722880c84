#include "report/ReportPrinting.h"

#include <QBuffer>
#include <QDir>

#include "render/ReportPrinters.h"
#include "render/PrinterSetup.h"
#include "render/ReportPrinter.h"
#include "render/ReportRecorder.h"
#include "report/TPreviewForm.h"
#include "report/TReportPrint.h"
#include "report/TReportSetup.h"
#include "store/StoreHelpers.h"
#include "store/WindowPlacement.h"
#include "widgets/TFlatButton.h"

void ReportPrinting::Install(TReportSetup& setup) {
  // Like the export files, a report printed to PDF is offered in the export folder.
  ReportPrinters::SetDefaultPdfFile(
      QDir(StoreHelpers::ExportDirectory()).filePath(QStringLiteral("Tasq.pdf")));
  setup.InstalledPrinters = [] { return ReportPrinters::Installed(); };
  setup.RunPrintDialog = &ReportPrinting::RunPrintDialog;
  setup.RunPrinterSetup = &ReportPrinting::RunPrinterSetup;
  setup.RunReport = &ReportPrinting::RunReport;
}

bool ReportPrinting::RunPrintDialog(TReportSetup& setup) {
  return setup.PrinterSetup1->PrintDialog(&setup);
}

void ReportPrinting::RunPrinterSetup(TReportSetup& setup) {
  setup.PrinterSetup1->PrinterSetupDialog(&setup);
}

void ReportPrinting::RunReport(TReportSetup& setup) {
  const bool toPrinter = setup.PrintToPrinter();
  TReportPrint status(setup.Table(), setup.Engine(), &setup);
  WindowPlacement::PlaceDialog(&status);
  status.HeaderTitle = setup.ReportTitle();
  status.PrintNotes = setup.PrintNotes();
  status.PrintCheckboxes = setup.PrintCheckbox();
  status.DoubleSpaced = setup.DoubleSpaced();
  status.ToPrinter = toPrinter;
  const QPageLayout::Orientation orientation = setup.PrinterSetup1->Orientation();
  status.TestPrinterEngine->SetOrientation(orientation);
  // The preview shows the pages as the printer would make them.
  status.TestRecorderEngine->SetOrientation(orientation);

  QBuffer recording;
  if (toPrinter) {
    status.setWindowTitle(QStringLiteral("Print Status"));
    status.CancelButton->SetCaption(QStringLiteral("Cancel"));
  } else {
    recording.open(QIODevice::ReadWrite);
    status.TestRecorderEngine->SetStream(&recording);
    status.setWindowTitle(QStringLiteral("Preview Status"));
    status.CancelButton->SetCaption(QStringLiteral("Stop"));
  }
  for (ReportEngine* engine : {static_cast<ReportEngine*>(status.TestPrinterEngine),
                                static_cast<ReportEngine*>(status.TestRecorderEngine)}) {
    engine->BeforePrint = [&status](ReportEngine& e) { status.BeforePrintReport(e); };
    engine->PrintStep = [&status](ReportEngine& e) { status.PrintReport1(e); };
    engine->PageHeaderStep = nullptr;
  }
  status.exec();
  const bool aborted = status.ActiveReport != nullptr && status.ActiveReport->Aborted();
  const bool failed = status.Result() == ReportEngine::RunResult::Failed;

  // A finished or stopped preview opens on the pages recorded; a canceled or failed one does
  // not.
  if (!toPrinter && status.Finished() && !aborted && !failed) {
    TPreviewForm preview(&setup);
    WindowPlacement::PlaceDialog(&preview);
    preview.InitialZoom = 2;
    preview.setWindowTitle(QStringLiteral("Preview Report"));
    preview.SetStream(&recording);
    preview.exec();
  }
}
