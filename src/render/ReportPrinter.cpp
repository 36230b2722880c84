#include "render/ReportPrinter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryFile>
#include <cstdio>

#include "render/ReportPrinters.h"
#include "render/ReportRecording.h"

ReportPrinter::ReportPrinter(QObject* parent) : ReportEngine(parent) {}

QPrinter& ReportPrinter::Device() const {
  return device_ != nullptr ? *device_ : ReportPrinters::Device();
}

bool ReportPrinter::BeginOutput(QString* error) {
  pages_.clear();
  QPrinter& device = Device();
  if (device.outputFormat() == QPrinter::PdfFormat) {
    if (device.outputFileName().isEmpty()) {
      *error = QStringLiteral("No file was chosen for the PDF printer");
      return false;
    }
  } else if (device.printerName().isEmpty() || !device.isValid()) {
    *error = QStringLiteral("The printer is not available");
    return false;
  }
  return true;
}

bool ReportPrinter::PageDone(const QSizeF&, QPicture picture, QString*) {
  if (!Aborted()) pages_.append(std::move(picture));
  return true;
}

void ReportPrinter::OnAbort() {
  pages_.clear();
}

bool ReportPrinter::FinishOutput(bool aborted, QString* error) {
  if (aborted) {
    pages_.clear();
    return true;
  }
  QPrinter& device = Device();
  device.setDocName(Title());
  device.setFullPage(true);
  QPageLayout layout = device.pageLayout();
  layout.setOrientation(Orientation());
  device.setPageLayout(layout);

  bool ok = false;
  if (device.outputFormat() == QPrinter::PdfFormat) {
    // The PDF goes to a file beside the target first and replaces it only when complete, so a
    // failed print never leaves a broken document as the only copy.
    const QString target = device.outputFileName();
    const QFileInfo info(target);
    QTemporaryFile part(info.absoluteDir().filePath(info.fileName() + QStringLiteral(".XXXXXX")));
    if (!part.open()) {
      *error = QStringLiteral("Unable to write to %1").arg(QDir::toNativeSeparators(target));
    } else {
      part.close();
      device.setOutputFileName(part.fileName());
      ok = Send(device, error);
      device.setOutputFileName(target);
      if (ok) {
        ok = std::rename(QFile::encodeName(part.fileName()).constData(),
                         QFile::encodeName(target).constData()) == 0;
        if (ok)
          part.setAutoRemove(false);
        else
          *error = QStringLiteral("Unable to write to %1").arg(QDir::toNativeSeparators(target));
      }
    }
  } else {
    ok = Send(device, error);
  }
  pages_.clear();
  return ok;
}

bool ReportPrinter::Send(QPrinter& device, QString* error) {
  QPainter painter;
  if (!painter.begin(&device)) {
    *error = device.outputFormat() == QPrinter::PdfFormat
                 ? QStringLiteral("Unable to write to %1").arg(device.outputFileName())
                 : QStringLiteral("The printer %1 could not be started").arg(device.printerName());
    return false;
  }
  const double scale = device.resolution() / kUnitsPerInch;
  for (qsizetype i = 0; i < pages_.size(); ++i) {
    if (i > 0 && !device.newPage()) {
      painter.end();
      *error = QStringLiteral("The printer refused page %1").arg(i + 1);
      return false;
    }
    ReportRecording::Play(painter, pages_.at(i), scale);
  }
  painter.end();
  return true;
}
