#pragma once

#include <QObject>
#include <QPageLayout>

class QPrinter;
class QWidget;

// The printer component of a dialog that offers printing: it shows the print dialog (printer,
// copies, page range) and the printer setup dialog (printer, paper, orientation) on the shared
// printer device, so what the user chooses holds for the next report, and it tells the report
// the page orientation.
class PrinterSetup : public QObject {
  Q_OBJECT
 public:
  explicit PrinterSetup(QObject* parent = nullptr);

  QPrinter& Device() const;
  QPageLayout::Orientation Orientation() const;
  void SetOrientation(QPageLayout::Orientation orientation);

  // True when the user confirmed the dialog.
  bool PrintDialog(QWidget* parent);
  bool PrinterSetupDialog(QWidget* parent);
};
