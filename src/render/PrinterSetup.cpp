#include "render/PrinterSetup.h"

#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

#include "render/ReportPrinters.h"

PrinterSetup::PrinterSetup(QObject* parent) : QObject(parent) {}

QPrinter& PrinterSetup::Device() const {
  return ReportPrinters::Device();
}

QPageLayout::Orientation PrinterSetup::Orientation() const {
  return Device().pageLayout().orientation();
}

void PrinterSetup::SetOrientation(QPageLayout::Orientation orientation) {
  Device().setPageOrientation(orientation);
}

bool PrinterSetup::PrintDialog(QWidget* parent) {
  QPrinter& device = Device();
  if (device.outputFormat() == QPrinter::PdfFormat && device.outputFileName().isEmpty())
    device.setOutputFileName(ReportPrinters::DefaultPdfFile());
  QPrintDialog dialog(&device, parent);
  dialog.setObjectName(QStringLiteral("PrintDialog"));
  const bool ok = dialog.exec() == QDialog::Accepted;
  device.setFullPage(true);
  return ok;
}

bool PrinterSetup::PrinterSetupDialog(QWidget* parent) {
  QPageSetupDialog dialog(&Device(), parent);
  dialog.setObjectName(QStringLiteral("PrinterSetupDialog"));
  const bool ok = dialog.exec() == QDialog::Accepted;
  Device().setFullPage(true);
  return ok;
}
