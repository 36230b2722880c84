#include "app/AppPictures.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <memory>

namespace {

// Renders one SVG drawing at the exact pixel size asked for: QIcon asks for size x device pixel
// ratio, so a picture on a scaled screen is drawn at the screen's own pixels, not enlarged.
class SvgPictureEngine final : public QIconEngine {
 public:
  explicit SvgPictureEngine(std::shared_ptr<QSvgRenderer> renderer)
      : renderer_(std::move(renderer)) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
    renderer_->render(painter, rect);
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    if (size.isEmpty()) return QPixmap();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    }
    return QPixmap::fromImage(std::move(image));
  }

  QIconEngine* clone() const override { return new SvgPictureEngine(renderer_); }
  QString key() const override { return QStringLiteral("ListwiseSvgPicture"); }

 private:
  std::shared_ptr<QSvgRenderer> renderer_;  // shared by the copies QIcon makes
};

}  // namespace

QIcon AppPictures::Picture(const QString& name) {
  auto renderer = std::make_shared<QSvgRenderer>(QStringLiteral(":/app/icons/%1.svg").arg(name));
  if (!renderer->isValid()) return QIcon();
  return QIcon(new SvgPictureEngine(std::move(renderer)));
}

QIcon AppPictures::ProgramIcon() {
  return Picture(QStringLiteral("listwise"));
}
