#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QMenu;
class QWidget;
class TableDataSet;
class KeyWordList;

// File, "Export to iCalendar..." and "Import from iCalendar...": the tasks of the current view
// written to an .ics file, and the VTODOs of an .ics file added as tasks.
class ICalCommands {
 public:
  // What the commands work on: the window that owns the dialogs, the task table of the view,
  // the key-word list that learns the imported words, and what to call after an import.
  struct Target {
    QWidget* window = nullptr;
    TableDataSet* table = nullptr;
    KeyWordList* keyWords = nullptr;
    std::function<void()> imported;
  };

  // Adds both items to the File menu, connected to `target`; the menu's window owns the
  // connections.
  static void AddMenuItems(QMenu* file, const Target& target);

  // The handlers: ask for the file, do the work, say how it went.
  static void ExportClick(const Target& target);
  static void ImportClick(const Target& target);

  // The work, without dialogs. Writes the tasks `table` shows, in its order and through its
  // filter, to `path` (complete or not at all); the table stands where it stood afterwards.
  // UIDs come from the task identity table in `dataDirectory` when it can be used, so a task
  // exported twice keeps its UID. Returns the error, empty on success.
  static QString ExportView(TableDataSet& table, const QString& dataDirectory, const QString& path, int* written);

  struct ImportResult {
    int added = 0;
    QStringList skipped;  // one reason per VTODO not added, naming it
    QString error;        // the file could not be read, or a task could not be stored
  };
  // Adds every storable VTODO of the file at `path` to `table`, and their key words to
  // `keyWords` (may be null). A failed store stops the import; the tasks added before stay.
  static ImportResult ImportFile(TableDataSet& table, const QString& path, KeyWordList* keyWords);
  static QString ImportMessage(const ImportResult& result);
};
