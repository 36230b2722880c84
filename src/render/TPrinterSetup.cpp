#include "render/TPrinterSetup.h"

#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

#include "render/ReportPrinters.h"

TPrinterSetup::TPrinterSetup(QObject* parent) : QObject(parent) {}

QPrinter& TPrinterSetup::Device() const {
  return ReportPrinters::Device();
}

QPageLayout::Orientation TPrinterSetup::Orientation() const {
  return Device().pageLayout().orientation();
}

void TPrinterSetup::SetOrientation(QPageLayout::Orientation orientation) {
  Device().setPageOrientation(orientation);
}

bool TPrinterSetup::PrintDialog(QWidget* parent) {
  QPrinter& device = Device();
  if (device.outputFormat() == QPrinter::PdfFormat && device.outputFileName().isEmpty())
    device.setOutputFileName(ReportPrinters::DefaultPdfFile());
  QPrintDialog dialog(&device, parent);
  dialog.setObjectName(QStringLiteral("PrintDialog"));
  const bool ok = dialog.exec() == QDialog::Accepted;
  device.setFullPage(true);
  return ok;
}

bool TPrinterSetup::PrinterSetupDialog(QWidget* parent) {
  QPageSetupDialog dialog(&Device(), parent);
  dialog.setObjectName(QStringLiteral("PrinterSetupDialog"));
  const bool ok = dialog.exec() == QDialog::Accepted;
  Device().setFullPage(true);
  return ok;
}
