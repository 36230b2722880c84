#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include "db/DataSetSource.h"
#include "db/TEngineEnv.h"
#include "db/TableDataSet.h"
#include "db/TTableEngine.h"

#include <QLabel>

// The task store: the components that carry the task table (the main window owns one
// TaskStore), and the operations that open, create, upgrade and rebuild it. Every failure ends
// in a message and a false result; nothing is raised past these operations except by
// RunRebuild, whose caller reports it.
class TaskStore : public QObject {
  Q_OBJECT
 public:
  explicit TaskStore(QObject* parent = nullptr);
  ~TaskStore() override;

  // The steps of an upgrade that can fail, so that tests can make each one fail.
  enum class UpgradeStep { RenameMemo, RenameData, Create, Open, OpenBackup, Append };

  TableDataSet TasqTable;
  DataSetSource TasqDataSource;
  TTableEngine TasqEngine;
  TEngineEnv EngineEnv1;
  TableDataSet ModTable;
  DataSetSource ModDataSource;
  TTableEngine ModEngine;
  QStringList TempMemo;  // the note being carried over by the upgrade, as lines

  // Where progress texts go (the main window's status box); may be null.
  void SetStatusLabel(QLabel* label) { statusLabel_ = label; }
  // The window the rebuild dialog is centred on.
  void SetDialogParent(QWidget* parent) { dialogParent_ = parent; }

  bool OpenTaskStore(bool maintenance);
  bool CreateTaskTable();
  bool IsOldLayout(TableDataSet& table);
  bool UpgradeTaskFiles();
  bool OpenBackupTable();
  // Shows the rebuild dialog; raises EDatabaseError when its work failed.
  void RunRebuild(bool packToo);
  void UpdateStatus(const QString& text);

  static QString FileName(const char* bareName);
  // Where a task file is stored, named as the messages name it ("LWISE.DBF", "LWISE.FPT",
  // "LWBAK.DBF"): by the rule of TaskFileNames, a new file gets the lower-case extension every
  // other tool finds, and a file stored under the upper-case spelling is used where it is.
  static QString StoredName(const char* bareName);
  // The same for the companion of any table: dbfPath with extension ext ("CDX", "FPT").
  static QString CompanionFile(const QString& dbfPath, const char* ext);
  // The task files stored under both spellings, as "LWISE.fpt and LWISE.FPT" (the first is used).
  static QStringList DoubleSpelled();

 protected:
  // Tests override this to make one step of the upgrade fail.
  virtual bool StepAllowed(UpgradeStep) { return true; }

 private:
  // Points TasqTable at the task table of the data folder, under the name it is stored by.
  void NameTaskTable();
  bool CopyOldTasks();
  bool HasAllTags();
  bool RestoreOldFiles();

  QPointer<QLabel> statusLabel_;
  QPointer<QWidget> dialogParent_;
};
