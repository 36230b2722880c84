#include "store/TRebuildInd.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <cmath>

#include "db/EDatabaseError.h"
#include "db/EngineProgressSink.h"
#include "db/TableDataSet.h"
#include "db/TTableEngine.h"
#include "widgets/TProgressGauge.h"

TRebuildInd::TRebuildInd(TableDataSet* table, TTableEngine* engine, const QString& indexFile, QWidget* parent)
    : QDialog(parent), table_(table), engine_(engine), indexFile_(indexFile) {
  setObjectName(QStringLiteral("RebuildInd"));
  setWindowTitle(QStringLiteral("Rebuild Indexes"));
  // A dialog border without the close box: the work must finish before it goes.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(288, 141);
  Gauge1 = new TProgressGauge(this);
  Gauge1->setObjectName(QStringLiteral("Gauge1"));
  Gauge1->setGeometry(16, 56, 256, 24);
  Gauge1->SetMinValue(0);
  Gauge1->SetMaxValue(100);
  Gauge1->SetProgress(0);
  WhatAmIDoing = new QLabel(this);
  WhatAmIDoing->setObjectName(QStringLiteral("WhatAmIDoing"));
  WhatAmIDoing->setGeometry(16, 24, 256, 20);
  WhatAmIDoing->hide();
}

TRebuildInd::~TRebuildInd() { EngineProgressSink::Unregister(this); }

void TRebuildInd::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  // Start once the window is on screen, so that its first paint is not held up by the work.
  QTimer::singleShot(0, this, &TRebuildInd::DoWork);
}

void TRebuildInd::BuildTags() {
  static const char* const kTags[5][2] = {{"DATETIME", "DATE+TIME"},
                                          {"DESCRIPT", "upper(DESCRIPT)"},
                                          {"DONE", "DONE"},
                                          {"KEYS", "upper(KEYS)"},
                                          {"PRIORITY", "upper(PRIORITY)+DATE+TIME"}};
  for (const auto& tag : kTags) {
    if (engine_->AddIndexTag(QString(), QString::fromLatin1(tag[0]), QString::fromLatin1(tag[1]), 0, false,
                             QStringLiteral("not Deleted()")) <= 0)
      throw EDatabaseError(QStringLiteral("Unable to build the index tag %1: %2")
                               .arg(QString::fromLatin1(tag[0]), TTableEngine::LastEngineError()));
  }
}

void TRebuildInd::DoWork() {
  table_->DisableControls();
  try {
    Gauge1->show();
    WhatAmIDoing->setText(QString());
    WhatAmIDoing->show();
    const QString query = engine_->CurrentQuery();
    engine_->ApplyQuery(QString());
    const int order = engine_->CurrentOrder();

    if (!indexFile_.isEmpty()) {
      engine_->CloseIndexFiles();
      // An index file linked in from elsewhere is rebuilt where it really is: the link stays,
      // and the new file is created through it.
      const QFileInfo info(indexFile_);
      const QString real = info.isSymLink() ? info.canonicalFilePath() : indexFile_;
      if (!real.isEmpty()) QFile::remove(real);  // a failed delete only means the tags go into the old file
    }
    const long window = EngineProgressSink::Register(this);
    if (packToo_) {
      WhatAmIDoing->setText(QStringLiteral("Permanently removing deleted tasks"));
      packing_ = true;
      Gauge1->SetProgress(0);
      engine_->SetProgressWindow(window);
      const int packed = engine_->RemoveDeleted();
      engine_->SetProgressWindow(0);
      if (packed == 0) throw EDatabaseError(TTableEngine::LastEngineError());
    }
    WhatAmIDoing->setText(QStringLiteral("Rebuilding indexes"));
    packing_ = false;
    engine_->SetProgressWindow(window);
    BuildTags();
    engine_->SelectOrder(engine_->TagOrder(QStringLiteral("DATETIME")));
    engine_->SetProgressWindow(0);
    // Reports still queued belong to the work just done; let them reach the gauge first.
    QCoreApplication::processEvents();
    Gauge1->hide();
    Gauge1->SetProgress(0);
    engine_->ApplyQuery(query);
    engine_->SelectOrder(order);
  } catch (const EDatabaseError& e) {
    engine_->SetProgressWindow(0);
    failure_ = e.Message().isEmpty() ? QStringLiteral("The index rebuild failed") : e.Message();
  }
  QCoreApplication::postEvent(this, new QEvent(QEvent::Type(QEvent::User + kCloseMessage)));
  table_->EnableControls();
  mayClose_ = true;
}

bool TRebuildInd::event(QEvent* e) {
  if (e->type() == QEvent::Type(QEvent::User + kCloseMessage)) {
    done(failure_.isEmpty() ? QDialog::Accepted : QDialog::Rejected);
    return true;
  }
  return QDialog::event(e);
}

void TRebuildInd::keyPressEvent(QKeyEvent* event) {
  const int code = event->key() & 0xFFFF;
  if ((code & 0x7000) == 0) {
    QDialog::keyPressEvent(event);
    return;
  }
  const int p = -static_cast<int>(static_cast<qint16>(code));
  if (packing_) {
    Gauge1->SetProgress(p);
  } else {
    // Each tag reports from 0 again: only increases count, so the gauge adds each tag's own
    // share and is full after four of the five.
    if (p > lastProgress_) accumulated_ += p - lastProgress_;
    lastProgress_ = p;
    Gauge1->SetProgress(std::min(100, int(std::lround(accumulated_ * 0.0025 * 100))));
  }
  QCoreApplication::processEvents();
  event->accept();
}

void TRebuildInd::closeEvent(QCloseEvent* event) {
  if (mayClose_) event->accept();
  else event->ignore();
}

void TRebuildInd::reject() {
  // Esc must not end the dialog while it works.
  if (mayClose_) QDialog::reject();
}
