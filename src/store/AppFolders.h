#pragma once

#include <QString>

// Where the program keeps its files, decided once from plain facts so the rule can be read (and
// tested) in one place:
//  - given a task folder (--data-dir), everything lives there;
//  - installed (the executable sits in the folder it was configured to be installed to), the task
//    files go to the user's data folder, the settings to the user's config folder and the default
//    exports to the documents folder: the install folder is never written, also not by root;
//  - otherwise (the build folder, an unpacked copy) everything lives beside the executable.
class AppFolders {
 public:
  // The facts the choice depends on; every folder is an absolute path, with or without "/".
  struct Facts {
    QString programFolder;    // the executable's folder, symbolic links resolved
    QString installBinFolder; // the folder the executable was configured to be installed to
    QString dataDirOption;    // the --data-dir folder, empty without one
    QString userDataHome;     // $XDG_DATA_HOME or its default ~/.local/share
    QString userConfigHome;   // $XDG_CONFIG_HOME or its default ~/.config
    QString documents;        // the user's documents folder, empty when it does not exist
    QString home;             // the user's home folder
  };

  // True when `programFolder` is `installBinFolder`, or that folder under another root: the
  // package unpacked into a staging folder (DESTDIR, dpkg-deb -x) behaves as the installed one.
  static bool IsInstalled(const QString& programFolder, const QString& installBinFolder);
  static AppFolders Choose(const Facts& facts);

  // Each ends with "/".
  QString data;     // task files and their backups
  QString config;   // TASQ.INI and LWISE.INI
  QString exports;  // default export and PDF files
};
