#include "report/TPreviewForm.h"

#include <QBoxLayout>
#include <QEvent>
#include <QFrame>
#include <QIODevice>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>
#include <QScrollArea>
#include <QScrollBar>
#include <cmath>

#include "platform/UserMessages.h"
#include "render/PagePreview.h"
#include "render/PreviewPage.h"
#include "store/WindowPlacement.h"
#include "widgets/AccessibleNames.h"
#include "widgets/TFlatButton.h"
#include "widgets/HelpWindow.h"
#include "widgets/TPopupHelp.h"

namespace {

constexpr int kHelpContext = 1017;
constexpr int kClientWidth = 608;
constexpr int kClientHeight = 424;
constexpr int kBarHeight = 41;
constexpr int kPictureSize = 18;
// The first pixel's colour is a flat button picture's see-through colour.
const QColor kSeeThrough(255, 0, 255);

enum class Picture { ZoomIn, ZoomOut, PageWidth, WholePage, First, Prev, Next, Last };

QImage ButtonPicture(Picture kind) {
  QImage image(kPictureSize, kPictureSize, QImage::Format_RGB32);
  image.fill(kSeeThrough);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 1.5));
  const auto triangle = [&](double tipX, double baseX) {
    p.setBrush(Qt::black);
    p.drawPolygon(QPolygonF({QPointF(tipX, 9), QPointF(baseX, 4), QPointF(baseX, 14)}));
  };
  switch (kind) {
    case Picture::ZoomIn:
    case Picture::ZoomOut:
      p.setBrush(Qt::white);
      p.drawEllipse(QPointF(7, 7), 5, 5);
      p.setPen(QPen(Qt::black, 2.5));
      p.drawLine(QPointF(11, 11), QPointF(16, 16));
      p.setPen(QPen(Qt::black, 1.5));
      p.drawLine(QPointF(4.5, 7), QPointF(9.5, 7));
      if (kind == Picture::ZoomIn) p.drawLine(QPointF(7, 4.5), QPointF(7, 9.5));
      break;
    case Picture::PageWidth:
      p.setBrush(Qt::white);
      p.drawRect(QRectF(3, 2, 12, 14));
      p.drawLine(QPointF(1, 9), QPointF(17, 9));
      break;
    case Picture::WholePage:
      p.setBrush(Qt::white);
      p.drawRect(QRectF(4, 2, 10, 14));
      for (double y : {5.0, 8.0, 11.0}) p.drawLine(QPointF(6, y), QPointF(12, y));
      break;
    case Picture::First:
      p.drawLine(QPointF(4, 4), QPointF(4, 14));
      triangle(5, 13);
      break;
    case Picture::Prev:
      triangle(5, 12);
      break;
    case Picture::Next:
      triangle(13, 6);
      break;
    case Picture::Last:
      p.drawLine(QPointF(14, 4), QPointF(14, 14));
      triangle(13, 5);
      break;
  }
  p.end();
  image.setPixelColor(0, 0, kSeeThrough);
  return image;
}

TFlatButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int width) {
  auto* b = new TFlatButton(caption, parent);
  b->setObjectName(QLatin1String(name));
  b->setFixedSize(width, 25);
  return b;
}

}  // namespace

TPreviewForm::TPreviewForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PreviewForm"));
  setWindowTitle(QStringLiteral("Preview Report"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  resize(kClientWidth, kClientHeight);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  ScrollBox1 = new QScrollArea(this);
  ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
  layout->addWidget(ScrollBox1, 1);
  PagePreview1 = new PagePreview(ScrollBox1, this);
  PagePreview1->setObjectName(QStringLiteral("PagePreview1"));
  connect(PagePreview1, &PagePreview::PageChange, this, &TPreviewForm::PagePreview1PageChange);
  connect(PagePreview1, &PagePreview::ZoomChange, this, &TPreviewForm::PagePreview1ZoomChange);

  auto* bar = new QFrame(this);
  bar->setObjectName(QStringLiteral("Panel1"));
  bar->setFrameStyle(QFrame::Panel | QFrame::Raised);
  bar->setFixedHeight(kBarHeight);
  layout->addWidget(bar);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(6, 0, 6, 0);
  row->setSpacing(2);

  const auto pictureButton = [&](const char* name, Picture picture) {
    TFlatButton* b = MakeButton(bar, name, QString(), 27);
    b->SetBitmap(ButtonPicture(picture));
    row->addWidget(b);
    return b;
  };
  ReturnButton = MakeButton(bar, "ReturnButton", QStringLiteral("Ok"), 75);
  ReturnButton->SetDefault(true);
  ReturnButton->SetCancel(true);
  row->addWidget(ReturnButton);
  row->addSpacing(12);
  sbZoomIn = pictureButton("sbZoomIn", Picture::ZoomIn);
  sbZoomOut = pictureButton("sbZoomOut", Picture::ZoomOut);
  sbZoomPageWidth = pictureButton("sbZoomPageWidth", Picture::PageWidth);
  sbZoomPage = pictureButton("sbZoomPage", Picture::WholePage);
  zbZoom100 = MakeButton(bar, "zbZoom100", QStringLiteral("100%"), 45);
  row->addWidget(zbZoom100);
  row->addSpacing(12);
  sbFirstPage = pictureButton("sbFirstPage", Picture::First);
  sbPrevPage = pictureButton("sbPrevPage", Picture::Prev);
  sbNextPage = pictureButton("sbNextPage", Picture::Next);
  sbLastPAge = pictureButton("sbLastPAge", Picture::Last);
  row->addStretch(1);
  Helpbutton = MakeButton(bar, "Helpbutton", QStringLiteral("Help"), 75);
  row->addWidget(Helpbutton);
  MouseHelpButton = MakeButton(bar, "MouseHelpButton", QString(), 27);
  MouseHelpButton->SetBitmap(TPopupHelp::QuestionImage());
  row->addWidget(MouseHelpButton);

  connect(ReturnButton, &TFlatButton::clicked, this, &TPreviewForm::ReturnButtonClick);
  connect(sbZoomIn, &TFlatButton::clicked, PagePreview1, &PagePreview::ZoomIn);
  connect(sbZoomOut, &TFlatButton::clicked, PagePreview1, &PagePreview::ZoomOut);
  connect(sbZoomPageWidth, &TFlatButton::clicked, PagePreview1, &PagePreview::ZoomToPageWidth);
  connect(sbZoomPage, &TFlatButton::clicked, PagePreview1, &PagePreview::ZoomToPage);
  connect(zbZoom100, &TFlatButton::clicked, this, [this] { PagePreview1->SetZoomFactor(100); });
  connect(sbFirstPage, &TFlatButton::clicked, this,
          [this] { PagePreview1->ShowPage(PagePreview1->FirstPage()); });
  connect(sbPrevPage, &TFlatButton::clicked, PagePreview1, &PagePreview::PrevPage);
  connect(sbNextPage, &TFlatButton::clicked, PagePreview1, &PagePreview::NextPage);
  connect(sbLastPAge, &TFlatButton::clicked, this,
          [this] { PagePreview1->ShowPage(PagePreview1->LastPage()); });
  connect(Helpbutton, &TFlatButton::clicked, this, &TPreviewForm::HelpbuttonClick);
  connect(MouseHelpButton, &TFlatButton::clicked, this, &TPreviewForm::MouseHelpButtonClick);

  PopupHelp1 = new TPopupHelp(this);
  PopupHelp1->InstallHelpKeys(kHelpContext);
  const std::pair<const char*, const char*> texts[] = {
      {"Helpbutton", "Click to bring up Windows Help for the program"},
      {"ReturnButton", "Click to return to the previous screen"},
      {"sbFirstPage", "Click here to see the first page"},
      {"sbLastPAge", "Click here to see the last page"},
      {"sbNextPage", "Click here to see the next page."},
      {"sbPrevPage", "Click here to see the previous page."},
      {"sbZoomIn", "Click here to Zoom in."},
      {"sbZoomOut", "Click here to Zoom out."},
      {"sbZoomPage", "Click here to see the full page."},
      {"sbZoomPageWidth", "Click here to make the width of the page fit into the preview."},
      {"zbZoom100", "Click here to make the preview 100% of actual size"},
  };
  for (const auto& [name, text] : texts)
    PopupHelp1->AddHelp(QLatin1String(name), QLatin1String(text));
  PopupHelp1->DescribeControls();  // for screen readers, with the names of the picture buttons
  NameControls(this, {{"ScrollBox1", "Page preview", "The report's pages as they will print"},
                      {"sbZoomIn", "Zoom in", nullptr},
                      {"sbZoomOut", "Zoom out", nullptr},
                      {"sbZoomPageWidth", "Page width", nullptr},
                      {"sbZoomPage", "Whole page", nullptr},
                      {"sbFirstPage", "First page", nullptr},
                      {"sbPrevPage", "Previous page", nullptr},
                      {"sbNextPage", "Next page", nullptr},
                      {"sbLastPAge", "Last page", nullptr},
                      {"MouseHelpButton", "What's this?", "Click here, then on a control, to see what it is for"}});
  // The menu's item shows the help of the control it was opened on.
  WhatsThisMenu = TPopupHelp::CreateWhatsThisMenu(this);
  for (QWidget* control : std::initializer_list<QWidget*>{
           ReturnButton, sbZoomIn, sbZoomOut, sbZoomPageWidth, sbZoomPage, zbZoom100, sbFirstPage,
           sbPrevPage, sbNextPage, sbLastPAge, Helpbutton})
    TPopupHelp::SetWhatsThisMenu(control, WhatsThisMenu);

  ScrollBox1->installEventFilter(this);
  ScrollBox1->viewport()->installEventFilter(this);
  FormCreate();
}

TPreviewForm::~TPreviewForm() = default;

QCursor TPreviewForm::MagnifyCursor() {
  const QPixmap picture(QStringLiteral(":/report/MAGNIFY"));
  if (picture.isNull()) return QCursor(Qt::CrossCursor);
  return QCursor(picture, 12, 12);
}

void TPreviewForm::FormCreate() {
  FirstActivate = true;
  ScrollBox1->viewport()->setCursor(MagnifyCursor());
  InitialZoom = 1;
  WindowPlacement::RestorePlacement(this);
}

void TPreviewForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void TPreviewForm::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
  QDialog::changeEvent(event);
}

void TPreviewForm::FormActivate() {
  if (!FirstActivate) return;
  FirstActivate = false;
  PopupHelp1->SetColor(palette().color(QPalette::Base));
  if (stream_ == nullptr || !PagePreview1->Start(*stream_)) {
    const QString why = stream_ == nullptr ? QStringLiteral("There is no report to preview")
                                           : PagePreview1->ErrorMessage();
    UserMessages::Current().Information(QStringLiteral("Information"), why);
  }
  if (InitialZoom == 1)
    PagePreview1->ZoomToPage();
  else if (InitialZoom == 2)
    PagePreview1->ZoomToPageWidth();
  else
    PagePreview1->SetZoomFactor(InitialZoom);
  // The page reacts to the mouse like the box it lies in.
  if (QWidget* page = PagePreview1->PageWidget()) {
    page->installEventFilter(this);
    page->setCursor(MagnifyCursor());
  }
  if (PagePreview1->PageCount() < 2)
    for (TFlatButton* b : {sbFirstPage, sbPrevPage, sbNextPage, sbLastPAge}) b->hide();
  PagePreview1PageChange();
}

QString TPreviewForm::PageCaption() const {
  const PagePreview& p = *PagePreview1;
  return QStringLiteral("Preview Page %1 of %2 ( %3% )")
      .arg(p.CurrentPage() - p.FirstPage() + 1)
      .arg(p.PageCount())
      .arg(std::lround(p.ZoomFactor()));
}

void TPreviewForm::PagePreview1PageChange() {
  if (PagePreview1->Showing()) setWindowTitle(PageCaption());
}

void TPreviewForm::PagePreview1ZoomChange() {
  // The preview has already redrawn the page at the new zoom.
  PagePreview1PageChange();
}

void TPreviewForm::ScrollBox1MouseDown(Qt::MouseButton button) {
  if (button == Qt::LeftButton)
    PagePreview1->ZoomIn();
  else
    PagePreview1->ZoomOut();
}

bool TPreviewForm::FormKeyDown(int key) {
  QScrollBar* bar = ScrollBox1->verticalScrollBar();
  if (key == Qt::Key_Up) {
    bar->setValue(std::max(0, bar->value() - bar->singleStep()));
    return true;
  }
  if (key == Qt::Key_Down) {
    bar->setValue(std::min(std::max(0, bar->maximum() - 1), bar->value() + bar->singleStep()));
    return true;
  }
  return false;
}

void TPreviewForm::keyPressEvent(QKeyEvent* event) {
  if (!FormKeyDown(event->key())) QDialog::keyPressEvent(event);
}

bool TPreviewForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    ScrollBox1MouseDown(static_cast<QMouseEvent*>(event)->button());
    return true;
  }
  if (event->type() == QEvent::KeyPress && watched == ScrollBox1 &&
      FormKeyDown(static_cast<QKeyEvent*>(event)->key()))
    return true;
  return QDialog::eventFilter(watched, event);
}

void TPreviewForm::FormClose() {
  if (closed_) return;
  closed_ = true;
  if (PagePreview1->Showing()) PagePreview1->Finish();
  WindowPlacement::SavePlacement(this);
}

void TPreviewForm::done(int result) {
  FormClose();
  QDialog::done(result);
}

void TPreviewForm::ReturnButtonClick() {
  ModalResult = 1;
  done(ModalResult);
}

void TPreviewForm::HelpbuttonClick() {
  HelpWindow::ShowHelpContext(kHelpContext);
}

void TPreviewForm::MouseHelpButtonClick() {
  PopupHelp1->StartHelpMode();
}
