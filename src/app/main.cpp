// Listwise: a task list kept in an xBase table beside the program.

#include <QApplication>
#include <QFileInfo>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>

#include "app/AppPictures.h"
#include "app/TMainScreen.h"
#include "app/TSingleInstance.h"

int main(int argc, char* argv[]) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
      (platform == nullptr || *platform == '\0')) {
    std::fprintf(stderr, "Listwise needs a display. Without one, run it as: xvfb-run -a %s\n", argv[0]);
    return 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Listwise"));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setWindowIcon(AppPictures::ProgramIcon());
  // A second start brings the running window forward and ends without opening any file.
  TSingleInstance single(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
  if (single.AnotherIsRunning()) return 0;
  TMainScreen window;
  single.SetWindow(&window);
  window.show();
  return QApplication::exec();
}
