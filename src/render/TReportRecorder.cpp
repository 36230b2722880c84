#include "render/TReportRecorder.h"

#include <QIODevice>

#include "render/TReportRecording.h"

namespace {
const QString kWriteFailed = QStringLiteral("The report could not be recorded for the preview");
}

TReportRecorder::TReportRecorder(QObject* parent) : TReportEngine(parent) {}

bool TReportRecorder::BeginOutput(QString* error) {
  pages_ = 0;
  if (stream_ == nullptr || !stream_->isWritable() || !TReportRecording::WriteHeader(*stream_)) {
    *error = kWriteFailed;
    return false;
  }
  return true;
}

bool TReportRecorder::PageDone(const QSizeF& sizeUnits, QPicture picture, QString* error) {
  if (!TReportRecording::WritePage(*stream_, sizeUnits, picture)) {
    *error = kWriteFailed;
    return false;
  }
  ++pages_;
  return true;
}

bool TReportRecorder::FinishOutput(bool aborted, QString* error) {
  if (aborted) return true;
  if (!TReportRecording::WriteEnd(*stream_, pages_)) {
    *error = kWriteFailed;
    return false;
  }
  return true;
}
