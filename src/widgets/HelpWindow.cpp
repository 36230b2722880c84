#include "widgets/HelpWindow.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QShortcut>

#include "platform/ScreenFit.h"

namespace {

QPointer<HelpWindow>& InstancePointer() {
  static QPointer<HelpWindow> window;
  return window;
}

constexpr int kContexts[] = {HelpWindow::kMainWindow,   HelpWindow::kTaskEditor,
                             HelpWindow::kFilterDialog, HelpWindow::kSetTimeDialog,
                             HelpWindow::kReportDialog, HelpWindow::kPreviewWindow};

bool Known(int context) {
  for (int known : kContexts) {
    if (known == context) return true;
  }
  return false;
}

}  // namespace

HelpWindow::HelpWindow() : QTextBrowser(nullptr) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QStringLiteral("Listwise Help"));
  setOpenExternalLinks(true);
  resize(560, 520);
  // The help window serves the main window: closing the main window ends the program even
  // while help is open, instead of leaving it running behind the help alone.
  setAttribute(Qt::WA_QuitOnClose, false);
  connect(this, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) {
    static const QRegularExpression kTopic(QStringLiteral("topic(\\d+)\\.html$"));
    const QRegularExpressionMatch match = kTopic.match(url.path());
    if (match.hasMatch()) current_context_ = match.captured(1).toInt();
  });
}

void HelpWindow::InstallHelpKey(QWidget* form, int context) {
  auto* key = new QShortcut(QKeySequence(Qt::Key_F1), form);
  key->setObjectName(QStringLiteral("HelpKey"));
  QObject::connect(key, &QShortcut::activated, form, [context] { ShowHelpContext(context); });
}

HelpWindow* HelpWindow::Instance() {
  return InstancePointer();
}

QString HelpWindow::TopicPath(int context) {
  if (!Known(context)) context = kMainWindow;
  return QStringLiteral(":/help/topic%1.html").arg(context);
}

HelpWindow* HelpWindow::ShowHelpContext(int context) {
  QPointer<HelpWindow>& window = InstancePointer();
  if (!window) {
    window = new HelpWindow;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, window, &QObject::deleteLater);
  }
  window->ShowTopic(context);
  const bool first = !window->isVisible();
  window->show();
  if (first) ScreenFit::FitWindow(window);
  window->raise();
  window->activateWindow();
  return window;
}

void HelpWindow::ShowTopic(int context) {
  if (!Known(context)) context = kMainWindow;
  const QString path = TopicPath(context);
  if (QFile::exists(path)) {
    setSource(QUrl(QStringLiteral("qrc") + path));
  } else {
    // Without the topics (a build that left the resources out) say so rather than show nothing.
    setHtml(QStringLiteral("<h2>Help is not available</h2><p>The help topic %1 is missing "
                           "from this copy of Listwise.</p>")
                .arg(context));
  }
  current_context_ = context;
}
