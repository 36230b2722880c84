#pragma once

#include <QList>
#include <QPicture>

#include "render/ReportEngine.h"

class QPrinter;

// Prints a report on the shared printer device (ReportPrinters). The pages are made first and
// go to the printer only once the report is complete, in one job named after Title(): so an
// abort abandons the job at once and nothing half-made reaches the printer, and the PDF printer
// replaces its file only with a finished document.
class ReportPrinter : public ReportEngine {
  Q_OBJECT
 public:
  explicit ReportPrinter(QObject* parent = nullptr);

  // The device the next run prints on; the shared one unless set. Not owned.
  void SetDevice(QPrinter* device) { device_ = device; }
  QPrinter& Device() const;

 protected:
  bool BeginOutput(QString* error) override;
  bool PageDone(const QSizeF& sizeUnits, QPicture picture, QString* error) override;
  bool FinishOutput(bool aborted, QString* error) override;
  void OnAbort() override;

 private:
  bool Send(QPrinter& device, QString* error);

  QPrinter* device_ = nullptr;
  QList<QPicture> pages_;
};
