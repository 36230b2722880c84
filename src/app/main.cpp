// Listwise: a task list kept in an xBase table.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/AppPictures.h"
#include "app/TMainScreen.h"
#include "app/SingleInstance.h"
#include "platform/GeometryDump.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"

namespace {

const char kUsage[] =
    "Usage: listwise [--data-dir DIR]\n"
    "A task list manager: tasks with a date, time, priority, key words and a note.\n\n"
    "  --data-dir DIR   keep the task list and its settings in DIR (created when missing)\n"
    "  --help           show this text and end\n"
    "  --version        show the version and end\n";

// The folder given with --data-dir (empty without one); `bad` names an option not understood.
struct Options {
  QString dataDir;
  bool help = false, version = false;
  QString bad;
};

// Read before any window system is touched, so that --help and --version answer on a terminal
// without a display.
Options ReadOptions(int argc, char* argv[]) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) o.help = true;
    else if (std::strcmp(a, "--version") == 0) o.version = true;
    else if (std::strcmp(a, "--data-dir") == 0 && i + 1 < argc) o.dataDir = QString::fromLocal8Bit(argv[++i]);
    else if (std::strncmp(a, "--data-dir=", 11) == 0) o.dataDir = QString::fromLocal8Bit(a + 11);
    else if (a[0] == '-' && std::strncmp(a, "-platform", 9) != 0 && std::strncmp(a, "-style", 6) != 0)
      o.bad = QString::fromLocal8Bit(a);
  }
  return o;
}

}  // namespace

int main(int argc, char* argv[]) {
  const Options options = ReadOptions(argc, argv);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("listwise %s\n", LISTWISE_VERSION);
    return 0;
  }
  if (!options.bad.isEmpty()) {
    std::fprintf(stderr, "listwise: unknown option %s\n\n%s", qPrintable(options.bad), kUsage);
    return 2;
  }
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
      (platform == nullptr || *platform == '\0')) {
    std::fprintf(stderr, "Listwise needs a display. Without one, run it as: xvfb-run -a %s\n", argv[0]);
    return 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Listwise"));
  QApplication::setApplicationVersion(QStringLiteral(LISTWISE_VERSION));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setWindowIcon(AppPictures::ProgramIcon());
  // Docks and task bars match the window with its launcher by this name.
  QGuiApplication::setDesktopFileName(QStringLiteral("listwise"));
  if (!options.dataDir.isEmpty()) StoreHelpers::SetDataDirectory(QDir(options.dataDir).absolutePath());
  // The folders are made on first use; one that cannot be made ends the program rather than
  // have it write somewhere the user did not choose.
  const QString missing = StoreHelpers::CreateFolders();
  if (!missing.isEmpty()) {
    UserMessages::ShowInformation(QStringLiteral("Unable to create the task folder %1").arg(missing));
    return 1;
  }
  // One copy per task folder: a second start on the same folder brings the running window
  // forward and ends without opening any file; a start on another folder opens its own window.
  SingleInstance single(QFileInfo(QCoreApplication::applicationFilePath()).fileName(), StoreHelpers::DataDirectory());
  if (single.AnotherIsRunning()) return 0;
  TMainScreen window;
  single.SetWindow(&window);
  // Test drivers that send real input ask for the windows' layout through this (see GeometryDump).
  GeometryDump dump(qEnvironmentVariable("LISTWISE_GEOMETRY_DUMP"));
  window.show();
  return QApplication::exec();
}
