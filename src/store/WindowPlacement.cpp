#include "store/WindowPlacement.h"

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <limits>

#include "platform/ScreenFit.h"
#include "store/IniFile.h"
#include "store/StoreHelpers.h"

namespace {

const QString kLeft = QStringLiteral("Left");
const QString kTop = QStringLiteral("Top");
const QString kRight = QStringLiteral("Right");
const QString kBottom = QStringLiteral("Bottom");
const QString kMaximized = QStringLiteral("Maximized");

std::optional<WindowPlacement::ScreenMetrics>& ScreenOverride() {
  static std::optional<WindowPlacement::ScreenMetrics> metrics;
  return metrics;
}

QPointer<QWidget>& MainWindowSetting() {
  static QPointer<QWidget> window;
  return window;
}

bool IsMainScreenClass(const QWidget* window) {
  return QString::fromLatin1(window->metaObject()->className()).toUpper() ==
         QLatin1String("TMAINSCREEN");
}

QWidget* MainWindowFor(const QWidget* window) {
  if (QWidget* set = MainWindowSetting().data()) return set;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top != window && IsMainScreenClass(top)) return top;
  }
  QWidget* parent = window->parentWidget();
  return parent != nullptr ? parent->window() : nullptr;
}

// The rectangle the window has when it is neither maximised nor full screen.
QRect NormalRect(const QWidget* window) {
  const QRect normal = window->normalGeometry();
  if ((window->isMaximized() || window->isFullScreen()) && normal.isValid()) return normal;
  return window->geometry();
}

int ReadInt(const IniDocument& doc, const QString& section, const QString& key, int fallback) {
  const std::optional<QString> text = doc.Value(section, key);
  return text ? IniFile::ParseInteger(*text).value_or(fallback) : fallback;
}

bool FitsInt(qint64 value) {
  return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
}

}  // namespace

WindowPlacement::ScreenMetrics WindowPlacement::Screen() {
  if (ScreenOverride()) return *ScreenOverride();
  ScreenMetrics metrics;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    metrics.geometry = screen->geometry();
    metrics.logicalDpi = qRound(screen->logicalDotsPerInch());
  }
  return metrics;
}

void WindowPlacement::SetScreenOverride(std::optional<ScreenMetrics> metrics) {
  ScreenOverride() = metrics;
}

void WindowPlacement::SetMainWindow(QWidget* window) {
  MainWindowSetting() = window;
}

QString WindowPlacement::SectionName(const QWidget* window) {
  QString name =
      QString::fromLatin1(window->metaObject()->className()) + QStringLiteral("_Placement");
  const int dpi = Screen().logicalDpi;
  if (dpi > 96) name += QString::number(dpi);
  return name;
}

bool WindowPlacement::SavePlacement(const QWidget* window) {
  const QRect rect = NormalRect(window);
  const QString section = SectionName(window);
  const bool maximized = window->isMaximized();
  IniFile file(StoreHelpers::SettingsFileName());
  return file.Update([&](IniDocument& doc) {
    return doc.SetValue(section, kLeft, QString::number(rect.x())) &&
           doc.SetValue(section, kTop, QString::number(rect.y())) &&
           doc.SetValue(section, kRight, QString::number(rect.x() + rect.width())) &&
           doc.SetValue(section, kBottom, QString::number(rect.y() + rect.height())) &&
           doc.SetValue(section, kMaximized, IniFile::FormatBool(maximized));
  });
}

bool WindowPlacement::RestorePlacement(QWidget* window) {
  const QString section = SectionName(window);
  const IniDocument doc = IniFile(StoreHelpers::SettingsFileName()).Read();
  const qint64 left = ReadInt(doc, section, kLeft, 0);
  const qint64 top = ReadInt(doc, section, kTop, 0);
  const qint64 right = ReadInt(doc, section, kRight, 0);
  const qint64 bottom = ReadInt(doc, section, kBottom, 0);
  const bool maximized = ReadInt(doc, section, kMaximized, window->isMaximized() ? 1 : 0) != 0;

  // A rectangle without width or height (a file edited by hand) would give an invisible window
  // the user could not get back; it counts as no placement at all.
  const qint64 width = right - left;
  const qint64 height = bottom - top;
  if (bottom != 0 && width > 0 && height > 0 && width <= QWIDGETSIZE_MAX &&
      height <= QWIDGETSIZE_MAX) {
    if (FitsInt(left) && FitsInt(top) && FitsInt(left + width) && FitsInt(top + height)) {
      // The stored place is kept when it fits the screen's free area; a window saved on a larger
      // or another screen is moved and shrunk into it, so every part of it can be reached.
      const QRect wanted{int(left), int(top), int(width), int(height)};
      const QRect area = ScreenOverride() ? ScreenOverride()->geometry : ScreenFit::AvailableAreaFor(wanted);
      window->setGeometry(ScreenFit::Fit(wanted, area));
    } else {
      PlaceDialog(window);
    }
  } else {
    PlaceDialog(window);
  }
  if (maximized) window->setWindowState(window->windowState() | Qt::WindowMaximized);
  return SavePlacement(window);
}

void WindowPlacement::PlaceDialog(QWidget* window) {
  if (window == nullptr || !window->isWindow()) return;
  // A window never sized gets its natural size only when it is shown; centring needs it now.
  if (!window->isVisible() && !window->testAttribute(Qt::WA_Resized)) window->adjustSize();
  const QSize size = window->frameGeometry().size();
  QWidget* main = IsMainScreenClass(window) ? nullptr : MainWindowFor(window);
  QPoint pos;
  if (main == nullptr || main == window || main->isMaximized()) {
    const QRect screen = Screen().geometry;
    pos = QPoint(screen.x() + (screen.width() - size.width()) / 2,
                 screen.y() + (screen.height() - size.height()) / 2);
  } else {
    const QRect over = main->frameGeometry();
    pos = QPoint(over.x() + (over.width() - size.width()) / 2,
                 over.y() + (over.height() - size.height()) / 2);
  }
  // Centred over a main window near the screen's edge, a dialog could reach past it.
  const QRect area = ScreenOverride() ? ScreenOverride()->geometry : ScreenFit::AvailableAreaFor(QRect(pos, size));
  const QRect fitted = ScreenFit::Fit(QRect(pos, size), area);
  window->move(fitted.topLeft());
  if (fitted.size() != size) window->resize(window->size() - (size - fitted.size()));

  const Qt::WindowFlags flags = window->windowFlags();
  if (flags.testFlag(Qt::WindowMaximizeButtonHint) && !flags.testFlag(Qt::WindowSystemMenuHint)) {
    // Changing the flags of a shown window hides it; it must stay as the caller left it.
    const bool visible = window->isVisible();
    window->setWindowFlags(flags | Qt::WindowSystemMenuHint);
    if (visible) window->show();
  }
}
