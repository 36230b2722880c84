#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class TProgressGauge;
class TableDataSet;
class TTableEngine;

// The "Rebuild Indexes" dialog: throws the task table's index file away and builds the five
// tags again, after packing the table when asked. It starts its work by itself when shown,
// shows the engine's progress on its gauge and closes itself when done; the user cannot close
// it meanwhile. A failure of the work is kept and raised again by RunRebuild once the dialog
// has closed, since an error must not cross the event loop.
class TRebuildInd : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kCloseMessage = 1066;

  // `indexFile` is the path of the table's index file, which the rebuild replaces.
  TRebuildInd(TableDataSet* table, TTableEngine* engine, const QString& indexFile, QWidget* parent = nullptr);
  ~TRebuildInd() override;

  void SetPackToo(bool on) { packToo_ = on; }
  bool MayClose() const { return mayClose_; }
  bool Failed() const { return !failure_.isEmpty(); }
  const QString& Failure() const { return failure_; }

  TProgressGauge* Gauge1 = nullptr;
  QLabel* WhatAmIDoing = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  bool event(QEvent* event) override;

 private:
  void DoWork();
  void BuildTags();

  TableDataSet* table_;
  TTableEngine* engine_;
  QString indexFile_;
  bool mayClose_ = false;
  int accumulated_ = 0;
  int lastProgress_ = 0;
  bool packing_ = false;
  bool packToo_ = false;
  bool started_ = false;
  QString failure_;
};
