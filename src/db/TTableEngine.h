#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <vector>

#include "db/TTableEngineLink.h"
#include "db/WorkAreaScope.h"

class DataSetSource;
class TableDataSet;

// Direct access to the storage engine for the dataset behind a data source, for what the
// dataset interface does not offer: creating tables field by field, building tags, choosing
// orders by number, queries, pack and zap, record tests and engine properties. Every call
// selects the dataset's work area and selects the previous one again afterwards. Calls that
// move the engine first post a pending edit and put the engine on the dataset's record, and
// afterwards let the dataset re-read from where the engine stands ("synchronised").
// Results are the engine's (0 or false for failure); nothing is raised.
class TTableEngine : public QObject {
  Q_OBJECT
 public:
  explicit TTableEngine(QObject* parent = nullptr);
  ~TTableEngine() override;

  DataSetSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(DataSetSource* source);
  TableDataSet* DataSet() const { return dataSet_; }
  QStringList ExtraIndexes() const { return extraIndexes_; }
  void SetExtraIndexes(const QStringList& names);
  QString Filter() const { return filter_; }
  void SetFilter(const QString& expression) { ApplyQuery(expression); }
  bool TurboRead() const { return turboRead_; }
  void SetTurboRead(bool on);

  // ---- Creating tables ----
  bool CreateTable(const QString& path, int driver, int fieldCount);
  void DefineField(const QString& name, const QString& type, int width, int decimals);
  bool CommitCreate();

  // ---- Orders ----
  int AddIndexTag(const QString& indexFile, const QString& tag, const QString& key, int option,
                  bool descending, const QString& condition);
  int OpenIndexFile(const QString& fileName);
  void CloseIndexFiles();
  int SelectOrder(int order);
  int CurrentOrder();
  int TagOrder(const QString& tag);
  QString TagNameAt(int order);
  QString OrderFileName(int order);
  void RefreshIndexes();

  // ---- Queries and tests ----
  int ApplyQuery(const QString& expression);
  QString CurrentQuery();
  long QueryCount();
  int TestQuery(const QString& expression);
  bool EvaluateCondition(const QString& expression);
  bool IsRecordDeleted();

  // ---- Records ----
  void GotoRecord(long recno);
  bool FindKey(const QString& key);
  int RemoveDeleted();
  int EmptyTable();
  long RecordCount();
  long DatasetRecordNumber() const;
  int RecordSize();
  long EngineProperty(int property, long value);
  long SetProgressWindow(long window);
  bool IsTableOpen() const;

  // ---- Marking many records at once (the main window's bulk deletes and their undo) ----
  // Sets the deletion mark of each listed record not marked yet and returns the ones it
  // marked, in list order; a record that cannot be marked is skipped. The dataset is read
  // again once, at the end.
  std::vector<quint32> MarkDeleted(const std::vector<quint32>& recnos);
  // Clears the mark of each listed record that carries it; returns the ones recalled.
  std::vector<quint32> RecallRecords(const std::vector<quint32>& recnos);

  // Called by the data link when the dataset changes or opens.
  void DataSetActivated();
  // The message of the engine's last failure, for the caller's report.
  static QString LastEngineError();

 private:
  class Sync;
  // The dataset's work area selected for one call (see WorkAreaScope::ForDataset).
  WorkAreaScope DatasetArea();
  QString WithDefaultExtension(const QString& name) const;

  TableDataSet* dataSet_ = nullptr;
  TTableEngineLink link_;
  QStringList extraIndexes_;
  QString filter_;
  quint16 createPrevious_ = 0;  // the area selected before CreateTable, back after CommitCreate
  quint16 createArea_ = 0;
  long savedRecno_ = 0;
  bool turboRead_ = false;
  QByteArray recordBuffer_;
};
