#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QPrinter;

// The printers a report can go to: the spooler's queues, and a PDF printer that writes a file,
// so that a person without any printer can still print. All reports share one printer device,
// the way a desktop program has one current printer: the print dialog and the printer setup
// dialog change it, and the next report prints on it.
class ReportPrinters {
 public:
  // The name under which the PDF printer is listed.
  static QString PdfPrinterName();

  // The spooler's queues followed by the PDF printer (unless switched off); a test may put a
  // list of its own in place.
  static QStringList Installed();
  static void SetInstalledOverride(std::optional<QStringList> names);
  static void SetPdfPrinterEnabled(bool enabled);
  static bool PdfPrinterEnabled();

  // The shared printer device, made on first use: the spooler's default queue when there is
  // one, otherwise the PDF printer. Lives until the application ends.
  static QPrinter& Device();
  // True when the device writes a PDF file rather than printing on a queue.
  static bool PrintsToFile();
  // Points the device at a spooler queue, or at the PDF printer for PdfPrinterName().
  static void SelectPrinter(const QString& name);
  // The file the PDF printer writes when the device carries none.
  static void SetDefaultPdfFile(const QString& path);
  static QString DefaultPdfFile();
};
