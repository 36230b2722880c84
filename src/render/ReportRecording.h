#pragma once

#include <QList>
#include <QPicture>
#include <QSizeF>
#include <QString>

class QIODevice;
class QPainter;

// The stream a recorded report is kept in for the preview: a header, then each page as it is
// finished (its paper size in report units and the page's drawing commands as a QPicture), then
// an end mark with the page count. Pages go out one by one, so a long report is never held
// twice in memory; reading checks every size and count before it trusts it.
class ReportRecording {
 public:
  struct Page {
    QSizeF size;  // in report units (ReportEngine::kUnitsPerInch)
    QPicture picture;
  };

  // Writing; each returns false when the device refused the bytes.
  static bool WriteHeader(QIODevice& device);
  static bool WritePage(QIODevice& device, const QSizeF& size, const QPicture& picture);
  static bool WriteEnd(QIODevice& device, int pageCount);

  // Draws `picture` (in report units) with `painter` at `pixelsPerUnit` device pixels per report
  // unit. Playing a picture scales it by the device's resolution over the one it was recorded
  // at; that is taken out again here, so the scale given is the scale drawn.
  static void Play(QPainter& painter, const QPicture& picture, double pixelsPerUnit);

  // Reads a whole recording from the device's current position. False, with `error` saying
  // what is wrong, for a stream that is not a recording, is cut short or is damaged.
  static bool Read(QIODevice& device, QList<Page>* pages, QString* error);
};
