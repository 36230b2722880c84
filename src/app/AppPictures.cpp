#include "app/AppPictures.h"

#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <memory>
#include <unordered_map>

namespace {

// The outline colour the drawings are made with: near black, for the light button face they
// were drawn on.
constexpr QRgb kInk = 0xff0d1117;

// One drawing, rendered with its outlines in a given colour. Shared by the copies QIcon makes.
class Drawing {
 public:
  Drawing(QByteArray svg, bool followsPalette) : svg_(std::move(svg)), followsPalette_(followsPalette) {}

  bool FollowsPalette() const { return followsPalette_; }

  bool IsValid() { return RendererFor(kInk)->isValid(); }

  // The renderer of the drawing with its outlines in `ink`: the same drawing, only the outline
  // colour replaced, so shapes, fills and marks on the picture stay as drawn. A mark that stands
  // right on the button face with no outline of its own (the group "on-face") takes the ink too.
  QSvgRenderer* RendererFor(QRgb ink) {
    auto& renderer = renderers_[ink];
    if (!renderer) {
      QByteArray svg = svg_;
      if (ink != kInk) {
        const QByteArray inkName = QColor(ink).name(QColor::HexRgb).toLatin1();
        const qsizetype group = svg.indexOf("<g id=\"on-face\"");
        const qsizetype end = group < 0 ? -1 : svg.indexOf("</g>", group);
        if (end > group) {
          static const QRegularExpression kColour(QStringLiteral("#[0-9a-fA-F]{6}"));
          QString marks = QString::fromLatin1(svg.mid(group, end - group));
          marks.replace(kColour, QString::fromLatin1(inkName));
          svg.replace(group, end - group, marks.toLatin1());
        }
        svg.replace(QColor(kInk).name().toLatin1(), inkName);
      }
      renderer = std::make_unique<QSvgRenderer>(svg);
    }
    return renderer.get();
  }

 private:
  QByteArray svg_;
  bool followsPalette_;
  std::unordered_map<QRgb, std::unique_ptr<QSvgRenderer>> renderers_;
};

// The outline colour for the desktop's current colours. On a light button face the drawings keep
// their own near-black outlines (the look they were drawn for); on a face darker than its text (a
// dark theme) black outlines would vanish into it, so they take the button text colour.
QRgb InkForPalette() {
  const QPalette palette = QGuiApplication::palette();
  const QColor face = palette.color(QPalette::Button);
  const QColor text = palette.color(QPalette::ButtonText);
  return text.lightness() > face.lightness() ? text.rgb() : kInk;
}

// Renders one SVG drawing at the exact pixel size asked for: QIcon asks for size x device pixel
// ratio, so a picture on a scaled screen is drawn at the screen's own pixels, not enlarged. Each
// rendering follows the application's palette of the moment; the widgets showing the picture
// render it again when the palette changes.
class SvgPictureEngine final : public QIconEngine {
 public:
  explicit SvgPictureEngine(std::shared_ptr<Drawing> drawing) : drawing_(std::move(drawing)) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
    drawing_->RendererFor(drawing_->FollowsPalette() ? InkForPalette() : kInk)->render(painter, rect);
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

  QIconEngine* clone() const override { return new SvgPictureEngine(drawing_); }
  QString key() const override { return QStringLiteral("ListwiseSvgPicture"); }

 private:
  std::shared_ptr<Drawing> drawing_;
};

}  // namespace

namespace {

QIcon Load(const QString& name, bool followsPalette) {
  QFile file(QStringLiteral(":/app/icons/%1.svg").arg(name));
  if (!file.open(QIODevice::ReadOnly)) return QIcon();
  auto drawing = std::make_shared<Drawing>(file.readAll(), followsPalette);
  if (!drawing->IsValid()) return QIcon();
  return QIcon(new SvgPictureEngine(std::move(drawing)));
}

}  // namespace

QIcon AppPictures::Picture(const QString& name) {
  return Load(name, true);
}

// The program's icon stands on the desktop's panels and in its launchers, beside the installed
// icon files: always drawn as it is.
QIcon AppPictures::ProgramIcon() {
  return Load(QStringLiteral("listwise"), false);
}
