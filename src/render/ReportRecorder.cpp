#include "render/ReportRecorder.h"

#include <QIODevice>

#include "render/ReportRecording.h"

namespace {
const QString kWriteFailed = QStringLiteral("The report could not be recorded for the preview");
}

ReportRecorder::ReportRecorder(QObject* parent) : ReportEngine(parent) {}

bool ReportRecorder::BeginOutput(QString* error) {
  pages_ = 0;
  if (stream_ == nullptr || !stream_->isWritable() || !ReportRecording::WriteHeader(*stream_)) {
    *error = kWriteFailed;
    return false;
  }
  return true;
}

bool ReportRecorder::PageDone(const QSizeF& sizeUnits, QPicture picture, QString* error) {
  if (!ReportRecording::WritePage(*stream_, sizeUnits, picture)) {
    *error = kWriteFailed;
    return false;
  }
  ++pages_;
  return true;
}

bool ReportRecorder::FinishOutput(bool aborted, QString* error) {
  if (aborted) return true;
  if (!ReportRecording::WriteEnd(*stream_, pages_)) {
    *error = kWriteFailed;
    return false;
  }
  return true;
}
