#pragma once

#include "render/ReportEngine.h"

class QIODevice;

// Records a report for the preview: each page goes into the caller's stream the moment it is
// finished (ReportRecording's layout), nothing is printed.
class ReportRecorder : public ReportEngine {
  Q_OBJECT
 public:
  explicit ReportRecorder(QObject* parent = nullptr);

  // The stream the next run records into; it must be open for writing. Not owned.
  void SetStream(QIODevice* stream) { stream_ = stream; }
  QIODevice* Stream() const { return stream_; }
  int PagesRecorded() const { return pages_; }

 protected:
  bool BeginOutput(QString* error) override;
  bool PageDone(const QSizeF& sizeUnits, QPicture picture, QString* error) override;
  bool FinishOutput(bool aborted, QString* error) override;

 private:
  QIODevice* stream_ = nullptr;
  int pages_ = 0;
};
