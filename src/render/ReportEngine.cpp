#include "render/ReportEngine.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPrinter>
#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>

#include "render/ReportPrinters.h"

namespace {

// The window repaints and takes clicks while a report runs, but not so often that this costs
// more than the report.
constexpr qint64 kEventInterval = 30;
constexpr double kPenInches = 0.01;
// Rounding of positions computed by adding line heights must not lose a line that fits.
constexpr double kSlack = 1e-6;

QFont MakeFont(const QString& face, double points, bool bold, bool italic) {
  QFont font(face);
  // Pixel sizes in report units keep the text the same size on every device the pages are
  // played on; hinting would tie the glyph widths to one resolution.
  font.setPixelSize(std::max(1, int(std::lround(points * ReportEngine::kUnitsPerInch / 72.0))));
  font.setHintingPreference(QFont::PreferNoHinting);
  font.setBold(bold);
  font.setItalic(italic);
  return font;
}

}  // namespace

ReportEngine::ReportEngine(QObject* parent)
    : QObject(parent),
      orientation_(QPageLayout::Portrait),
      statusFormat_(QStringLiteral("Printing Page %p")),
      font_(MakeFont(QStringLiteral("Arial"), 10, false, false)),
      metrics_(font_) {
  ResetSection();
}

ReportEngine::~ReportEngine() {
  if (painter_.isActive()) painter_.end();
}

void ReportEngine::SetStatusLabel(QLabel* label) {
  statusLabel_ = label;
}

void ReportEngine::SetStatusLine(int index, const QString& line) {
  while (statusLines_.size() <= index) statusLines_.append(QString());
  statusLines_[index] = line;
}

QString ReportEngine::StatusText() const {
  QString text;
  const QString& f = statusFormat_;
  for (qsizetype i = 0; i < f.size(); ++i) {
    const QChar c = f.at(i);
    if (c == QLatin1Char('%') && i + 1 < f.size()) {
      const QChar n = f.at(i + 1);
      if (n == QLatin1Char('p')) {
        text += QString::number(page_);
        ++i;
        continue;
      }
      if (n.isDigit()) {
        text += statusLines_.value(n.digitValue());
        ++i;
        continue;
      }
    }
    text += c == QLatin1Char('\r') ? QLatin1Char('\n') : c;
  }
  return text;
}

void ReportEngine::UpdateStatus() {
  if (statusLabel_) statusLabel_->setText(StatusText());
  ProcessEventsNow();
}

void ReportEngine::ProcessEventsNow() {
  QCoreApplication::processEvents();
  sinceEvents_.restart();
}

void ReportEngine::ProcessEventsSometimes() {
  if (!sinceEvents_.isValid() || sinceEvents_.elapsed() >= kEventInterval) ProcessEventsNow();
}

QSizeF ReportEngine::PaperSize() const {
  QPageLayout layout = ReportPrinters::Device().pageLayout();
  layout.setOrientation(orientation_);
  return layout.fullRect(QPageLayout::Inch).size();
}

ReportEngine::RunResult ReportEngine::Run() {
  if (running_) return RunResult::Failed;
  running_ = true;
  aborted_ = false;
  error_.clear();
  page_ = 1;
  const QSizeF paper = PaperSize();
  pageWidth_ = paper.width();
  pageHeight_ = paper.height();
  ResetSection();
  tabs_.clear();
  savedTabs_.clear();
  tabIndex_ = -1;
  sinceEvents_.start();

  bool ok = BeginOutput(&error_);
  if (ok) {
    StartPage();
    Home();
    UpdateStatus();
    try {
      if (BeforePrint && !aborted_) BeforePrint(*this);
      UpdateStatus();
      if (PrintStep && !aborted_) PrintStep(*this);
      if (PageEndStep && !aborted_) PageEndStep(*this);
    } catch (const RunAborted&) {
    } catch (const std::exception& e) {
      error_ = QString::fromLocal8Bit(e.what());
      ok = false;
    }
    if (!aborted_ && ok)
      ok = FinishPage();
    else if (painter_.isActive())
      painter_.end();
    picture_.reset();
    ok = FinishOutput(aborted_ || !ok, &error_) && ok;
  }
  running_ = false;
  UpdateStatus();
  if (aborted_) return RunResult::Aborted;
  return ok ? RunResult::Completed : RunResult::Failed;
}

void ReportEngine::Abort() {
  if (aborted_) return;
  aborted_ = true;
  if (running_) OnAbort();
}

void ReportEngine::CheckAbort() const {
  if (aborted_) throw RunAborted{};
}

void ReportEngine::StartPage() {
  picture_ = std::make_unique<QPicture>();
  painter_.begin(picture_.get());
  painter_.setRenderHint(QPainter::Antialiasing);
  painter_.setRenderHint(QPainter::TextAntialiasing);
  painter_.setPen(QPen(Qt::black, kPenInches * kUnitsPerInch));
  painter_.setBrush(Qt::NoBrush);
}

bool ReportEngine::FinishPage() {
  painter_.end();
  const QSizeF size(pageWidth_ * kUnitsPerInch, pageHeight_ * kUnitsPerInch);
  picture_->setBoundingRect(QRect(QPoint(0, 0), size.toSize()));
  QPicture done = std::move(*picture_);
  picture_.reset();
  return PageDone(size, std::move(done), &error_);
}

void ReportEngine::SetMargins(double inches) {
  marginLeft_ = marginRight_ = marginTop_ = marginBottom_ = inches;
}

void ReportEngine::ResetSection() {
  sectionLeft_ = marginLeft_;
  sectionRight_ = pageWidth_ - marginRight_;
  sectionTop_ = marginTop_;
  sectionBottom_ = pageHeight_ - marginBottom_;
}

int ReportEngine::LinesLeft() const {
  const double height = LineHeight();
  if (height <= 0) return 0;
  const double room = sectionBottom_ - LineTop();
  if (room < height - kSlack) return 0;
  return int(std::floor((room + kSlack) / height));
}

void ReportEngine::SetFont(const QString& face, double points) {
  font_ = MakeFont(face, points, font_.bold(), font_.italic());
  metrics_ = QFontMetricsF(font_);
}

void ReportEngine::SetBold(bool on) {
  font_.setBold(on);
  metrics_ = QFontMetricsF(font_);
}

void ReportEngine::SetItalic(bool on) {
  font_.setItalic(on);
  metrics_ = QFontMetricsF(font_);
}

double ReportEngine::LineHeight() const {
  return metrics_.lineSpacing() / kUnitsPerInch;
}

double ReportEngine::FontHeight() const {
  return metrics_.height() / kUnitsPerInch;
}

double ReportEngine::TextWidth(const QString& text) const {
  return metrics_.horizontalAdvance(text) / kUnitsPerInch;
}

void ReportEngine::Home() {
  x_ = sectionLeft_;
  y_ = sectionTop_ + metrics_.ascent() / kUnitsPerInch;
  tabIndex_ = -1;
}

void ReportEngine::GotoXY(double x, double y) {
  x_ = x;
  y_ = y;
  tabIndex_ = -1;
}

double ReportEngine::LineTop() const {
  return y_ - metrics_.ascent() / kUnitsPerInch;
}

void ReportEngine::NewLine() {
  CheckAbort();
  y_ += LineHeight();
  x_ = sectionLeft_;
  tabIndex_ = -1;
  ProcessEventsSometimes();
}

void ReportEngine::NewPage() {
  CheckAbort();
  if (PageEndStep) PageEndStep(*this);
  if (!FinishPage()) throw std::runtime_error(error_.toStdString());
  ++page_;
  StartPage();
  Home();
  UpdateStatus();
  CheckAbort();
  if (PageHeaderStep) PageHeaderStep(*this);
}

QPointF ReportEngine::Units(double x, double y) const {
  return QPointF(x * kUnitsPerInch, y * kUnitsPerInch);
}

void ReportEngine::DrawText(double x, double y, const QString& text) {
  if (text.isEmpty() || !painter_.isActive()) return;
  painter_.setFont(font_);
  painter_.drawText(Units(x, y), text);
}

void ReportEngine::Print(const QString& text) {
  CheckAbort();
  DrawText(x_, y_, text);
  x_ += TextWidth(text);
}

void ReportEngine::PrintRight(const QString& text, double right) {
  CheckAbort();
  DrawText(right - TextWidth(text), y_, text);
  x_ = right;
}

void ReportEngine::PrintLn(const QString& text) {
  Print(text);
  NewLine();
}

void ReportEngine::TextRect(const QRectF& clip, double x, double y, const QString& text) {
  CheckAbort();
  if (text.isEmpty() || clip.width() <= 0 || clip.height() <= 0) return;
  // Only the characters that show inside the clip go out, so a text extracted from the page
  // reads as the page looks; the clip cuts the last of them at its edge.
  QString shown = text;
  const double room = (clip.right() - x) * kUnitsPerInch;
  if (metrics_.horizontalAdvance(text) > room) {
    qsizetype n = 0;
    while (n < text.size() && metrics_.horizontalAdvance(text.left(n)) < room) ++n;
    shown = text.left(n);
  }
  if (!painter_.isActive()) return;
  painter_.save();
  painter_.setClipRect(QRectF(Units(clip.left(), clip.top()), Units(clip.right(), clip.bottom())));
  DrawText(x, y, shown);
  painter_.restore();
}

void ReportEngine::ClearTabs() {
  tabs_.clear();
  tabIndex_ = -1;
}

void ReportEngine::SetTab(double position, TabStop::Justify justify, double width,
                           int marginHundredths, int lines, int shade) {
  TabStop stop;
  if (position < 0)
    stop.position = tabs_.empty() ? sectionLeft_ : tabs_.back().End();
  else
    stop.position = position;
  stop.width = std::max(0.0, width);
  stop.justify = justify;
  stop.margin = std::max(0, marginHundredths);
  stop.lines = lines;
  stop.shade = std::clamp(shade, 0, 100);
  tabs_.push_back(stop);
}

void ReportEngine::Tab() {
  CheckAbort();
  if (tabIndex_ + 1 >= int(tabs_.size())) {
    tabIndex_ = int(tabs_.size());
    return;
  }
  const TabStop& stop = tabs_[size_t(++tabIndex_)];
  x_ = stop.position;
  if (!painter_.isActive()) return;
  const QRectF cell(Units(stop.position, LineTop()), Units(stop.End(), LineTop() + LineHeight()));
  if (stop.shade > 0) {
    // The shade keeps clear of a rule drawn along the line's top, as the body's first line has.
    const int level = 255 - stop.shade * 255 / 100;
    painter_.fillRect(cell.adjusted(0, kPenInches * kUnitsPerInch, 0, 0),
                      QColor(level, level, level));
  }
  if (stop.lines & TabStop::kTop) painter_.drawLine(cell.topLeft(), cell.topRight());
  if (stop.lines & TabStop::kBottom) painter_.drawLine(cell.bottomLeft(), cell.bottomRight());
  if (stop.lines & TabStop::kLeft) painter_.drawLine(cell.topLeft(), cell.bottomLeft());
  if (stop.lines & TabStop::kRight) painter_.drawLine(cell.topRight(), cell.bottomRight());
}

void ReportEngine::PrintTab(const QString& text) {
  Tab();
  if (tabIndex_ >= int(tabs_.size())) return;
  const TabStop& stop = tabs_[size_t(tabIndex_)];
  double x = stop.TextStart();
  const double width = TextWidth(text);
  if (stop.justify == TabStop::Justify::Right)
    x = stop.TextStart() + stop.TextWidth() - width;
  else if (stop.justify == TabStop::Justify::Center)
    x = stop.TextStart() + (stop.TextWidth() - width) / 2;
  const QRectF clip(stop.TextStart(), y_ - FontHeight(), std::max(0.0, stop.TextWidth()),
                    2 * FontHeight());
  TextRect(clip, std::max(x, stop.TextStart()), y_, text);
  x_ = stop.End();
}

double ReportEngine::TabStart() const {
  if (tabIndex_ < 0 || tabIndex_ >= int(tabs_.size())) return sectionLeft_;
  return tabs_[size_t(tabIndex_)].TextStart();
}

double ReportEngine::TabWidth() const {
  if (tabIndex_ < 0 || tabIndex_ >= int(tabs_.size())) return sectionRight_ - sectionLeft_;
  return tabs_[size_t(tabIndex_)].TextWidth();
}

void ReportEngine::SaveTabs() {
  savedTabs_.push_back(tabs_);
}

bool ReportEngine::RestoreTabs() {
  if (savedTabs_.empty()) return false;
  tabs_ = std::move(savedTabs_.back());
  savedTabs_.pop_back();
  tabIndex_ = -1;
  return true;
}

void ReportEngine::Rectangle(double x1, double y1, double x2, double y2) {
  CheckAbort();
  if (painter_.isActive()) painter_.drawRect(QRectF(Units(x1, y1), Units(x2, y2)).normalized());
}

void ReportEngine::Line(double x1, double y1, double x2, double y2) {
  CheckAbort();
  if (painter_.isActive()) painter_.drawLine(Units(x1, y1), Units(x2, y2));
}
