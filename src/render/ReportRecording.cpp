#include "render/ReportRecording.h"

#include <QBuffer>
#include <QDataStream>
#include <QIODevice>
#include <QPainter>

namespace {

constexpr quint32 kMagic = 0x4C575250;  // "LWRP"
constexpr quint16 kVersion = 1;
constexpr quint32 kPageMark = 0x50414745;  // "PAGE"
constexpr quint32 kEndMark = 0x454E4421;   // "END!"
// No paper is larger than this many report units on a side (100 inches at 1200 per inch).
constexpr double kMaxSide = 120000;
constexpr qint32 kMaxPictureBytes = 256 * 1024 * 1024;
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;

}  // namespace

bool ReportRecording::WriteHeader(QIODevice& device) {
  QDataStream s(&device);
  s.setVersion(kStreamVersion);
  s << kMagic << kVersion;
  return s.status() == QDataStream::Ok;
}

bool ReportRecording::WritePage(QIODevice& device, const QSizeF& size, const QPicture& picture) {
  QDataStream s(&device);
  s.setVersion(kStreamVersion);
  const QByteArray data(picture.data(), qsizetype(picture.size()));
  s << kPageMark << size.width() << size.height() << qint32(data.size());
  if (s.writeRawData(data.constData(), int(data.size())) != data.size()) return false;
  return s.status() == QDataStream::Ok;
}

bool ReportRecording::WriteEnd(QIODevice& device, int pageCount) {
  QDataStream s(&device);
  s.setVersion(kStreamVersion);
  s << kEndMark << qint32(pageCount);
  return s.status() == QDataStream::Ok;
}

void ReportRecording::Play(QPainter& painter, const QPicture& picture, double pixelsPerUnit) {
  const QPaintDevice* device = painter.device();
  double x = pixelsPerUnit, y = pixelsPerUnit;
  if (device != nullptr && device->logicalDpiX() > 0 && device->logicalDpiY() > 0) {
    x *= double(picture.logicalDpiX()) / device->logicalDpiX();
    y *= double(picture.logicalDpiY()) / device->logicalDpiY();
  }
  painter.save();
  painter.scale(x, y);
  painter.drawPicture(0, 0, picture);
  painter.restore();
}

bool ReportRecording::Read(QIODevice& device, QList<Page>* pages, QString* error) {
  pages->clear();
  QDataStream s(&device);
  s.setVersion(kStreamVersion);
  quint32 magic = 0;
  quint16 version = 0;
  s >> magic >> version;
  if (s.status() != QDataStream::Ok || magic != kMagic) {
    *error = QStringLiteral("The report recording is not a recording of a report");
    return false;
  }
  if (version != kVersion) {
    *error = QStringLiteral("The report recording has the unknown version %1").arg(version);
    return false;
  }
  for (;;) {
    quint32 mark = 0;
    s >> mark;
    if (s.status() != QDataStream::Ok) {
      *error = QStringLiteral("The report recording ends before its last page");
      break;
    }
    if (mark == kEndMark) {
      qint32 count = -1;
      s >> count;
      if (s.status() == QDataStream::Ok && count == pages->size()) return true;
      *error = QStringLiteral("The report recording's page count does not match its pages");
      break;
    }
    if (mark != kPageMark) {
      *error = QStringLiteral("The report recording is damaged after page %1").arg(pages->size());
      break;
    }
    double width = 0, height = 0;
    qint32 bytes = 0;
    s >> width >> height >> bytes;
    if (s.status() != QDataStream::Ok || !(width > 0 && width <= kMaxSide) ||
        !(height > 0 && height <= kMaxSide) || bytes <= 0 || bytes > kMaxPictureBytes ||
        bytes > device.bytesAvailable()) {
      *error = QStringLiteral("Page %1 of the report recording is damaged").arg(pages->size() + 1);
      break;
    }
    QByteArray data(bytes, Qt::Uninitialized);
    if (s.readRawData(data.data(), bytes) != bytes) {
      *error = QStringLiteral("The report recording ends inside page %1").arg(pages->size() + 1);
      break;
    }
    Page page;
    page.size = QSizeF(width, height);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    if (!page.picture.load(&buffer)) {
      *error = QStringLiteral("Page %1 of the report recording is damaged").arg(pages->size() + 1);
      break;
    }
    pages->append(std::move(page));
  }
  pages->clear();
  return false;
}
