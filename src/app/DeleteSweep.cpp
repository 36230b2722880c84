#include "app/DeleteSweep.h"

#include "db/StoredDateTime.h"

namespace {

struct Texts {
  const char* question;
  const char* none;
  const char* some;
};

const Texts kTexts[4] = {
    {"CONFIRM: Delete all tasks marked as done?", "No tasks marked DONE have been deleted",
     "All tasks marked DONE have been deleted (%1 records)"},
    {"CONFIRM: Delete all with dates before today?", "No tasks with dates before today have been deleted",
     "All tasks with dates before today have been deleted (%1 records)"},
    {"CONFIRM: Delete all tasks matching the current filter?\r(i.e. all showing tasks)",
     "No tasks matching filter have been deleted",
     "All tasks matching filter have been deleted\r(%1 records)\rFILTER WILL NOW BE CLEARED"},
    {"CONFIRM: Delete all tasks NOT matching the current filter?\r(i.e. all tasks not showing)",
     "No tasks NOT matching filter have been deleted", "All tasks NOT matching filter have been deleted\r(%1 records)"}};

}  // namespace

bool DeleteSweep::Takes(bool done, const QString& storedDate) const {
  if (kind_ == Kind::MarkedDone) return done;
  if (kind_ != Kind::BeforeToday) return false;
  double due = today_ + 10;
  double value = 0;
  if (StoredDateTime::ParseDate(storedDate, value)) due = value;
  return today_ > due;
}

std::vector<quint32> DeleteSweep::ByFilterCandidates(const std::vector<bool>& deleted,
                                                     const std::vector<bool>& passes) const {
  std::vector<quint32> found;
  if (!ByFilter()) return found;
  const bool wanted = kind_ == Kind::Matching;
  for (quint32 r = 1; r < deleted.size(); ++r) {
    const bool pass = r < passes.size() && passes[r];
    if (!deleted[r] && pass == wanted) found.push_back(r);
  }
  return found;
}

QString DeleteSweep::CountSentence(size_t count) {
  return count == 1 ? QStringLiteral("\r\rThis will delete 1 task.")
                    : QStringLiteral("\r\rThis will delete %1 tasks.").arg(count);
}

QString DeleteSweep::Question(size_t count) const {
  return QString::fromLatin1(kTexts[int(kind_)].question) + CountSentence(count);
}

QString DeleteSweep::Outcome(size_t deleted) const {
  const Texts& t = kTexts[int(kind_)];
  return deleted == 0 ? QString::fromLatin1(t.none) : QString::fromLatin1(t.some).arg(deleted);
}

QString DeleteHistory::RecalledSentence(size_t count) {
  return count == 1 ? QStringLiteral("1 deleted task has been brought back.")
                    : QStringLiteral("%1 deleted tasks have been brought back.").arg(count);
}
