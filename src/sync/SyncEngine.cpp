#include "sync/SyncEngine.h"

#include <QHash>
#include <QSet>

#include "sync/ICalTask.h"

namespace {

// The key word that marks the server's version of a task changed on both sides.
const QString kConflict = QStringLiteral("conflict");

// The conflict copy's key words: "conflict" first; words that no longer fit move to the note,
// so nothing of the server's version is lost.
TaskRecord MarkedAsConflict(TaskRecord task) {
  QStringList words = task.keys.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  words.removeAll(kConflict);
  words.prepend(kConflict);
  QStringList overflow;
  while (words.join(QLatin1Char(' ')).size() > TaskRecord::kKeysWidth) overflow.prepend(words.takeLast());
  task.keys = words.join(QLatin1Char(' '));
  if (!overflow.isEmpty()) {
    if (!task.note.isEmpty()) task.note += QLatin1String("\r\n");
    task.note += QStringLiteral("Key words: ") + overflow.join(QLatin1Char(' '));
  }
  return task;
}

}  // namespace

QString SyncResult::Message() const {
  QStringList lines;
  if (!ok) {
    lines << (cancelled ? QStringLiteral("The sync was cancelled.") : QStringLiteral("The sync stopped: %1").arg(error));
    lines << QStringLiteral("Nothing was lost: what was done before is kept, and the next sync carries on from there.");
  }
  QStringList done;
  auto count = [&](int n, const char* one, const char* many) {
    if (n > 0) done << (n == 1 ? QString::fromLatin1(one) : QString::fromLatin1(many).arg(n));
  };
  count(received, "1 new task received", "%1 new tasks received");
  count(updated, "1 task updated from the server", "%1 tasks updated from the server");
  count(deletedHere, "1 task deleted here (deleted on the server)", "%1 tasks deleted here (deleted on the server)");
  count(sent, "1 new task sent", "%1 new tasks sent");
  count(sentChanges, "1 changed task sent", "%1 changed tasks sent");
  count(deletedThere, "1 task deleted on the server", "%1 tasks deleted on the server");
  if (ok && done.isEmpty() && conflicts == 0 && editsKept == 0 && skipped.isEmpty())
    lines << QStringLiteral("The task list and the server were already in step.");
  else if (!done.isEmpty())
    lines << done.join(QStringLiteral(", ")) + QLatin1Char('.');
  if (conflicts > 0) {
    lines << (conflicts == 1 ? QStringLiteral("1 task was changed both here and on the server")
                             : QStringLiteral("%1 tasks were changed both here and on the server").arg(conflicts)) +
                 QStringLiteral(": both versions are kept; the server's has \"conflict\" in its key words (%1).")
                     .arg(conflictTasks.join(QStringLiteral(", ")));
  }
  if (editsKept > 0)
    lines << (editsKept == 1 ? QStringLiteral("1 task deleted on one side but edited on the other was kept.")
                             : QStringLiteral("%1 tasks deleted on one side but edited on the other were kept.").arg(editsKept));
  if (!skipped.isEmpty())
    lines << QStringLiteral("%1 server task(s) could not be taken in and stay on the server:\n").arg(skipped.size()) +
                 skipped.join(QLatin1Char('\n'));
  return lines.join(QLatin1Char('\n'));
}

SyncEngine::SyncEngine(const QString& dbfPath, CalDavClient* client, const QString& collection)
    : dbfPath_(dbfPath), client_(client), collection_(CalDavClient::CanonicalHref(collection)) {
  if (!collection_.endsWith(QLatin1Char('/'))) collection_ += QLatin1Char('/');
}

SyncEngine::~SyncEngine() = default;

bool SyncEngine::Fail(const QString& message) {
  result_.error = message;
  return false;
}

bool SyncEngine::Fail(const DavError& error) {
  result_.cancelled = error.kind == DavError::Kind::Cancelled;
  return Fail(error.message);
}

bool SyncEngine::Step(const QString& step, int done, int total) {
  if (progress_ && !progress_(step, done, total)) {
    result_.cancelled = true;
    return Fail(QStringLiteral("cancelled"));
  }
  return true;
}

bool SyncEngine::Put(const IdentityRow& row) {
  QString error;
  if (!identity_.Put(row, &error)) return Fail(error);
  return true;
}

const TaskSlot* SyncEngine::Slot(uint32_t recno) const {
  return recno >= 1 && recno <= slots_.size() ? &slots_[recno - 1] : nullptr;
}

bool SyncEngine::LiveRecord(const IdentityRow& row) const {
  const TaskSlot* slot = Slot(row.recno);
  return slot && !slot->deleted;
}

bool SyncEngine::AppendTask(const TaskRecord& task, uint32_t* recno) {
  QString error;
  if (!table_.Append(task, recno, &error)) return Fail(error);
  // Another program may have appended meanwhile: the slots grow to the new record.
  while (slots_.size() < *recno) {
    TaskSlot gap;
    gap.recno = uint32_t(slots_.size() + 1);
    gap.deleted = true;  // not ours to judge in this sync; the next one reads it
    slots_.push_back(gap);
  }
  slots_[*recno - 1].deleted = false;
  slots_[*recno - 1].task = task;
  return true;
}

bool SyncEngine::ReplaceTask(uint32_t recno, const TaskRecord& task) {
  QString error;
  if (!table_.Replace(recno, task, &error)) return Fail(error);
  slots_[recno - 1].task = task;
  return true;
}

bool SyncEngine::DeleteTask(uint32_t recno) {
  QString error;
  if (!table_.MarkDeleted(recno, &error)) return Fail(error);
  slots_[recno - 1].deleted = true;
  return true;
}

const IdentityRow* SyncEngine::Unlinked(const QString& fingerprint, const QString& uid) const {
  auto usable = [&](const IdentityRow* row) {
    return row && row->href.isEmpty() && row->syncfp.isEmpty() && row->fprint == fingerprint && LiveRecord(*row);
  };
  if (const IdentityRow* byUid = identity_.ForUid(uid); usable(byUid)) return byUid;
  // The index was made when the sync began; rows linked since then fail the check above.
  for (auto it = unlinked_.constFind(fingerprint); it != unlinked_.constEnd() && it.key() == fingerprint; ++it)
    if (const IdentityRow* row = identity_.ForUid(it.value()); usable(row)) return row;
  return nullptr;
}

bool SyncEngine::Prepare() {
  QString error;
  if (!table_.Open(dbfPath_, &error)) return Fail(error);
  if (!identity_.Open(dbfPath_, &error)) return Fail(error);
  TableStamp stamp;
  if (!ReadTaskTable(dbfPath_, &slots_, &stamp, &error)) return Fail(error);
  if (!identity_.Reconcile(slots_, stamp, nullptr, &error)) return Fail(error);
  unlinked_.clear();
  for (const IdentityRow& row : identity_.Rows())
    if (row.href.isEmpty() && row.syncfp.isEmpty()) unlinked_.insert(row.fprint, row.uid);
  // Another collection than last time: what the rows know of the old one means nothing there,
  // so every task starts again as never synced (identical copies are linked, not doubled).
  const QString known = identity_.CollectionUrl();
  if (!known.isEmpty() && CalDavClient::CanonicalHref(known) != collection_) {
    for (IdentityRow row : identity_.Rows()) {
      if (row.recno == 0 || !LiveRecord(row)) {
        if (!identity_.Remove(row.uid, &error)) return Fail(error);
        continue;
      }
      row.href.clear();
      row.etag.clear();
      row.syncfp.clear();
      if (!Put(row)) return false;
    }
    if (!identity_.SetCollectionState(collection_, QString(), &error)) return Fail(error);
  }
  return true;
}

bool SyncEngine::FetchChanges(ServerChanges* changes) {
  const QString token = identity_.CollectionUrl().isEmpty() ? QString() : identity_.SyncToken();
  DavChanges report;
  DavError error = client_->SyncCollection(collection_, token, &report);
  if (error.kind == DavError::Kind::InvalidSyncToken && !token.isEmpty())
    error = client_->SyncCollection(collection_, QString(), &report);
  bool full = token.isEmpty() || error.ok() == false;
  if (error.ok()) {
    full = full || report.token.isEmpty();
    changes->token = report.token;
    if (!token.isEmpty() && report.token.isEmpty()) full = true;
    for (DavItem& item : report.changed) item.href = CalDavClient::CanonicalHref(item.href);
    for (QString& href : report.removed) href = CalDavClient::CanonicalHref(href);
    changes->changed = std::move(report.changed);
    changes->removed = report.removed;
  } else if (error.kind == DavError::Kind::NotSupported || error.kind == DavError::Kind::InvalidSyncToken) {
    // A server without change reports: the whole list of ETags, compared with ours. The ctag
    // saves even that when nothing changed.
    CalDavCollection state;
    error = client_->Collection(collection_, &state);
    if (!error.ok()) return Fail(error);
    const QString ctag = QStringLiteral("ctag:") + state.ctag;
    if (!state.ctag.isEmpty() && token == ctag) {
      changes->token = ctag;
      return true;
    }
    std::vector<DavItem> all;
    error = client_->ListTasks(collection_, &all);
    if (!error.ok()) return Fail(error);
    for (DavItem& item : all) item.href = CalDavClient::CanonicalHref(item.href);
    changes->changed = std::move(all);
    changes->token = state.ctag.isEmpty() ? QString() : ctag;
    full = true;
  } else {
    return Fail(error);
  }
  if (full) {
    // Everything the server has was listed: what we know on the server and is not listed is gone.
    QSet<QString> listed;
    for (const DavItem& item : changes->changed) listed.insert(item.href);
    for (const IdentityRow& row : identity_.Rows())
      if (!row.href.isEmpty() && !row.etag.isEmpty() && !listed.contains(row.href)) changes->removed << row.href;
  }
  // Only what differs from the ETag we hold needs fetching; our own uploads come back unchanged.
  std::vector<DavItem> needed;
  for (DavItem& item : changes->changed) {
    const IdentityRow* row = identity_.ForHref(item.href);
    if (row && !row->etag.isEmpty() && row->etag == item.etag) continue;
    needed.push_back(std::move(item));
  }
  changes->changed = std::move(needed);
  return true;
}

bool SyncEngine::ApplyServerItem(const DavItem& item) {
  const ICalImport in = ICalTask::FromICalendar(item.data);
  if (!in.Storable()) {
    const QString name = in.summary.isEmpty() ? item.href : in.summary;
    result_.skipped << QStringLiteral("%1: %2").arg(name, in.unstorable.isEmpty() ? in.problem : in.unstorable);
    skippedAny_ = true;
    return true;
  }
  const QString print = in.task.Fingerprint();
  const IdentityRow* found = identity_.ForHref(item.href);
  if (!found) {
    // A task of ours that reached the server in a sync stopped before its row learnt the href,
    // or that a stopped sync stored here before it recorded the link: link it, never double it.
    const IdentityRow* mine = identity_.ForUid(in.uid);
    if (mine && !mine->href.isEmpty()) mine = nullptr;  // the UID belongs to another resource
    if (!mine || mine->fprint != print || !LiveRecord(*mine)) {
      if (const IdentityRow* same = Unlinked(print, in.uid)) mine = same;
    }
    if (mine && LiveRecord(*mine) && mine->fprint == print) {
      IdentityRow row = *mine;
      row.href = item.href;
      row.etag = item.etag;
      row.syncfp = row.fprint;
      return Put(row);
    }
    uint32_t recno = 0;
    if (!AppendTask(in.task, &recno)) return false;
    IdentityRow row;
    row.recno = recno;
    row.uid = (in.uid.isEmpty() || identity_.ForUid(in.uid)) ? ICalTask::NewUid() : in.uid;
    row.fprint = row.syncfp = print;
    row.href = item.href;
    row.etag = item.etag;
    if (!Put(row)) return false;
    ++result_.received;
    return true;
  }
  IdentityRow row = *found;
  if (!LiveRecord(row)) {
    // Deleted here, edited there: the edit survives as the task again.
    uint32_t recno = 0;
    if (!AppendTask(in.task, &recno)) return false;
    row.recno = recno;
    row.fprint = row.syncfp = print;
    row.etag = item.etag;
    if (!Put(row)) return false;
    ++result_.editsKept;
    return true;
  }
  if (row.etag.isEmpty() && row.syncfp.isEmpty()) {
    // Our own upload from a sync stopped before it learnt the ETag, edited here since: the
    // server's copy is the base of the edit, which goes up as a change.
    row.etag = item.etag;
    if (row.fprint == print) row.syncfp = print;
    return Put(row);
  }
  if (row.fprint == print) {
    // Both sides hold the same task (our own upload, or the same edit made twice).
    row.syncfp = print;
    row.etag = item.etag;
    return Put(row);
  }
  if (!row.ChangedLocally()) {
    if (!ReplaceTask(row.recno, in.task)) return false;
    row.fprint = row.syncfp = print;
    row.etag = item.etag;
    if (!Put(row)) return false;
    ++result_.updated;
    return true;
  }
  // Changed on both sides: ours stays as it is and goes up as a new resource; the server's
  // version arrives beside it, marked, and keeps the server's resource. A copy stored by a
  // sync that was stopped before recording it is linked rather than stored twice.
  const TaskRecord copy = MarkedAsConflict(in.task);
  const QString copyPrint = copy.Fingerprint();
  uint32_t copyRecno = 0;
  const IdentityRow* earlier = Unlinked(copyPrint, QString());
  IdentityRow ours = row;
  if (earlier) {
    copyRecno = earlier->recno;
    QString error;
    if (!identity_.Remove(earlier->uid, &error)) return Fail(error);
  } else if (!AppendTask(copy, &copyRecno)) {
    return false;
  }
  IdentityRow theirs = row;
  theirs.recno = copyRecno;
  theirs.fprint = copyPrint;
  // The mark stays ours: the server's text is left as its author wrote it.
  theirs.syncfp = copyPrint;
  theirs.etag = item.etag;
  if (!Put(theirs)) return false;
  ours.uid = ICalTask::NewUid();
  ours.href.clear();
  ours.etag.clear();
  ours.syncfp.clear();
  if (!Put(ours)) return false;
  ++result_.conflicts;
  result_.conflictTasks << in.task.descript;
  return true;
}

bool SyncEngine::ApplyServerRemoval(const QString& href) {
  const IdentityRow* found = identity_.ForHref(href);
  if (!found) return true;
  IdentityRow row = *found;
  QString error;
  if (!LiveRecord(row)) return identity_.Remove(row.uid, &error) || Fail(error);
  if (row.ChangedLocally()) {
    // Deleted there, edited here: the edit survives and goes up again as a new resource.
    row.href.clear();
    row.etag.clear();
    row.syncfp.clear();
    if (!Put(row)) return false;
    ++result_.editsKept;
    return true;
  }
  if (!DeleteTask(row.recno)) return false;
  if (!identity_.Remove(row.uid, &error)) return Fail(error);
  ++result_.deletedHere;
  return true;
}

bool SyncEngine::SendNew(const IdentityRow& found, const TaskSlot& slot) {
  IdentityRow row = found;
  if (row.href.isEmpty()) {
    // The href is recorded before the upload: a sync stopped after the server took the task
    // then finds it under this href (If-None-Match below keeps a retry from replacing it).
    row.href = CalDavClient::CanonicalHref(CalDavClient::MemberHref(collection_, row.uid + QStringLiteral(".ics")));
    row.etag.clear();
    if (identity_.ForHref(row.href)) row.href = CalDavClient::CanonicalHref(
        CalDavClient::MemberHref(collection_, ICalTask::NewUid() + QStringLiteral(".ics")));
    if (!Put(row)) return false;
  }
  QString etag;
  const QByteArray data = ICalTask::ToICalendar(slot.task, row.uid).toUtf8();
  DavError error = client_->Put(row.href, data, QString(), &etag);
  if (error.kind == DavError::Kind::PreconditionFailed) {
    // Already there: an earlier, stopped sync sent it. Its content decides at the next fetch.
    DavItem there;
    error = client_->Get(row.href, &there);
    if (!error.ok()) return Fail(error);
    const ICalImport in = ICalTask::FromICalendar(there.data);
    if (in.Storable() && in.task.Fingerprint() == row.fprint) {
      row.etag = there.etag;
      row.syncfp = row.fprint;
      return Put(row);
    }
    return true;  // the next sync's fetch sees a changed ETag and applies the conflict rule
  }
  if (!error.ok()) return Fail(error);
  return RecordSent(row, etag, &result_.sent);
}

bool SyncEngine::RecordSent(IdentityRow row, QString etag, int* counter) {
  if (etag.isEmpty()) {
    // The server changed the text as it stored it and does not tell the new ETag.
    DavItem there;
    const DavError error = client_->Get(row.href, &there);
    if (!error.ok()) return Fail(error);
    etag = there.etag;
  }
  row.etag = etag;
  row.syncfp = row.fprint;
  if (!Put(row)) return false;
  ++*counter;
  return true;
}

bool SyncEngine::SendChange(const IdentityRow& found, const TaskSlot& slot) {
  IdentityRow row = found;
  DavItem there;
  DavError error = client_->Get(row.href, &there);
  if (error.kind == DavError::Kind::NotFound) {
    // Gone meanwhile: the edit survives as a new resource (next sync).
    row.href.clear();
    row.etag.clear();
    row.syncfp.clear();
    return Put(row);
  }
  if (!error.ok()) return Fail(error);
  // Only our fields change: what other clients keep in the task (alarms, start dates) stays.
  const QByteArray data = ICalTask::Merge(there.data, slot.task, row.uid).toUtf8();
  QString etag;
  error = client_->Put(row.href, data, row.etag, &etag);
  if (error.kind == DavError::Kind::PreconditionFailed) return true;  // changed there: next fetch
  if (!error.ok()) return Fail(error);
  return RecordSent(row, etag, &result_.sentChanges);
}

bool SyncEngine::SendDeletion(const IdentityRow& row) {
  QString message;
  if (row.etag.isEmpty()) {
    // Never confirmed on the server: nothing there can be an edit of someone else's.
    DavError error = client_->Delete(row.href, QString());
    if (!error.ok() && error.kind != DavError::Kind::NotFound) return Fail(error);
    return identity_.Remove(row.uid, &message) || Fail(message);
  }
  DavError error = client_->Delete(row.href, row.etag);
  if (error.kind == DavError::Kind::PreconditionFailed) return true;  // edited there: it comes back
  if (!error.ok() && error.kind != DavError::Kind::NotFound) return Fail(error);
  if (!identity_.Remove(row.uid, &message)) return Fail(message);
  if (error.ok()) ++result_.deletedThere;
  return true;
}

bool SyncEngine::SendLocalChanges() {
  const std::vector<IdentityRow> rows = identity_.Rows();
  int todo = 0;
  for (const IdentityRow& row : rows)
    if (row.href.isEmpty() || row.etag.isEmpty() || row.ChangedLocally() || !LiveRecord(row)) ++todo;
  int done = 0;
  for (const IdentityRow& row : rows) {
    const bool live = LiveRecord(row);
    const bool pending = row.href.isEmpty() || row.etag.isEmpty();
    if (live && !pending && !row.ChangedLocally()) continue;
    if (!Step(QStringLiteral("Sending changes"), done++, todo)) return false;
    if (!live) {
      if (row.href.isEmpty()) {
        QString error;
        if (!identity_.Remove(row.uid, &error)) return Fail(error);
      } else if (!SendDeletion(row)) {
        return false;
      }
    } else if (pending) {
      if (!SendNew(row, *Slot(row.recno))) return false;
    } else if (!SendChange(row, *Slot(row.recno))) {
      return false;
    }
  }
  return true;
}

SyncResult SyncEngine::Run() {
  result_ = SyncResult();
  skippedAny_ = false;
  auto finish = [this](bool ok) {
    result_.ok = ok;
    QString error;
    if (!table_.Commit(&error) && ok) {
      result_.ok = false;
      result_.error = error;
    }
    table_.Close();
    identity_.Close();
    return result_;
  };
  if (!Step(QStringLiteral("Reading the task list"), 0, 0) || !Prepare()) return finish(false);
  if (!Step(QStringLiteral("Asking the server for changes"), 0, 0)) return finish(false);
  ServerChanges changes;
  if (!FetchChanges(&changes)) return finish(false);

  QStringList hrefs;
  for (const DavItem& item : changes.changed) hrefs << item.href;
  if (!hrefs.isEmpty()) {
    if (!Step(QStringLiteral("Receiving tasks"), 0, int(hrefs.size()))) return finish(false);
    std::vector<DavItem> items;
    const DavError error = client_->Multiget(collection_, hrefs, &items);
    if (!error.ok()) {
      Fail(error);
      return finish(false);
    }
    int done = 0;
    for (DavItem& item : items) {
      item.href = CalDavClient::CanonicalHref(item.href);
      if (!Step(QStringLiteral("Receiving tasks"), done++, int(items.size())) || !ApplyServerItem(item))
        return finish(false);
    }
  }
  for (const QString& href : changes.removed)
    if (!ApplyServerRemoval(href)) return finish(false);
  if (!SendLocalChanges()) return finish(false);
  // Last: a sync stopped before this point fetches the same changes again next time, and finds
  // each already in step. A task that could not be taken in keeps the old token, so it is tried
  // again.
  if (!skippedAny_) {
    QString error;
    if (!identity_.SetCollectionState(collection_, changes.token, &error)) {
      Fail(error);
      return finish(false);
    }
  } else if (identity_.CollectionUrl().isEmpty()) {
    QString error;
    if (!identity_.SetCollectionState(collection_, QString(), &error)) {
      Fail(error);
      return finish(false);
    }
  }
  return finish(true);
}
