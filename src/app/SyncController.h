#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

#include "store/SyncPreferences.h"
#include "sync/SyncEngine.h"

class QWidget;

// File, Synchronize and File, Sync Settings, and the sync every N minutes: gets the password
// (keyring, or asked), runs the sync with a progress window that can cancel it, and tells the
// result. The main window hands it the task table's path and what to do around a sync.
class SyncController : public QObject {
  Q_OBJECT
 public:
  struct Hooks {
    std::function<QString()> taskTable;  // path of LWISE.DBF
    std::function<void()> before;        // post pending edits
    std::function<void()> after;         // show what the sync changed
  };
  SyncController(QWidget* window, Hooks hooks);

  void Synchronize() { Run(false); }
  // The settings dialog; true when settings were saved.
  bool EditSettings();
  // Starts or stops the sync timer as the settings say.
  void ApplySchedule();
  const SyncResult& LastResult() const { return last_; }
  // Minutes between the timer's syncs; 0 when it is off.
  int ScheduledMinutes() const { return timer_.isActive() ? timer_.interval() / 60000 : 0; }

  // Asks for the password where no keyring has it; empty when the user cancels. Tests replace it.
  std::function<QString(const SyncPreferences&, bool* ok)> AskPassword;

 private:
  void Run(bool fromTimer);
  QString PasswordFor(const SyncPreferences& prefs, bool fromTimer, bool* ok);

  QPointer<QWidget> window_;
  Hooks hooks_;
  QTimer timer_;
  bool running_ = false;
  // A password typed in this run of the program, for the timer's syncs only (memory, never a file).
  QString typed_;
  SyncResult last_;
};
