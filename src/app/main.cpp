// Listwise start-up. The main window is not built yet: until it is, the program opens a small
// window that says so, so that ./run shows the build works end to end.

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include "xbengine.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Listwise");

  char version[256] = {};
  xb_Version(version);

  QWidget window;
  window.setWindowTitle("Listwise");
  auto* layout = new QVBoxLayout(&window);
  auto* label = new QLabel(
      QString("Listwise\n\nThe main window is not built yet.\nStorage engine %1 is ready.")
          .arg(QString::fromLatin1(version)),
      &window);
  label->setAlignment(Qt::AlignCenter);
  layout->addWidget(label);
  window.resize(420, 200);
  window.show();
  return QApplication::exec();
}
