#pragma once

class TReportSetup;

// The report dialog's printing: the installed printers, the print dialog, the printer setup
// dialog and the run of the printed report or its preview (the status form, then for a preview
// the preview window over the recording). Install() puts them into a dialog's printing hooks.
class ReportPrinting {
 public:
  static void Install(TReportSetup& setup);

  static bool RunPrintDialog(TReportSetup& setup);
  static void RunPrinterSetup(TReportSetup& setup);
  // Everything of a report run but the table's detaching and putting back, which DoPrint does.
  static void RunReport(TReportSetup& setup);
};
