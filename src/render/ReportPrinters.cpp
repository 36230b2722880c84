#include "render/ReportPrinters.h"

#include <QCoreApplication>
#include <QDir>
#include <QPrinter>
#include <QPrinterInfo>
#include <memory>

namespace {

struct State {
  std::optional<QStringList> overrideNames;
  bool pdfEnabled = true;
  QString defaultPdfFile;
  QPrinter* device = nullptr;
};

State& TheState() {
  static State state;
  return state;
}

// The device is a plain object without a Qt parent; it goes when the application does, while
// the print support it relies on is still loaded.
void DeleteDevice() {
  delete TheState().device;
  TheState().device = nullptr;
}

}  // namespace

QString ReportPrinters::PdfPrinterName() {
  return QStringLiteral("PDF");
}

QStringList ReportPrinters::Installed() {
  const State& s = TheState();
  if (s.overrideNames) return *s.overrideNames;
  QStringList names = QPrinterInfo::availablePrinterNames();
  if (s.pdfEnabled) names << PdfPrinterName();
  return names;
}

void ReportPrinters::SetInstalledOverride(std::optional<QStringList> names) {
  TheState().overrideNames = std::move(names);
}

void ReportPrinters::SetPdfPrinterEnabled(bool enabled) {
  TheState().pdfEnabled = enabled;
}

bool ReportPrinters::PdfPrinterEnabled() {
  return TheState().pdfEnabled;
}

QPrinter& ReportPrinters::Device() {
  State& s = TheState();
  if (s.device == nullptr) {
    s.device = new QPrinter(QPrinter::HighResolution);
    qAddPostRoutine(DeleteDevice);
    // A page is laid out from the paper's edge, not from the printable area's.
    s.device->setFullPage(true);
    if (s.device->outputFormat() != QPrinter::PdfFormat && s.device->printerName().isEmpty())
      SelectPrinter(PdfPrinterName());
  }
  return *s.device;
}

bool ReportPrinters::PrintsToFile() {
  QPrinter& device = Device();
  return device.outputFormat() == QPrinter::PdfFormat || device.printerName().isEmpty();
}

void ReportPrinters::SelectPrinter(const QString& name) {
  QPrinter& device = Device();
  if (name == PdfPrinterName()) {
    device.setOutputFormat(QPrinter::PdfFormat);
    if (device.outputFileName().isEmpty()) device.setOutputFileName(DefaultPdfFile());
  } else {
    device.setOutputFileName(QString());
    device.setOutputFormat(QPrinter::NativeFormat);
    device.setPrinterName(name);
  }
  device.setFullPage(true);
}

void ReportPrinters::SetDefaultPdfFile(const QString& path) {
  TheState().defaultPdfFile = path;
}

QString ReportPrinters::DefaultPdfFile() {
  const State& s = TheState();
  if (!s.defaultPdfFile.isEmpty()) return s.defaultPdfFile;
  return QDir::home().filePath(QStringLiteral("Listwise.pdf"));
}
