#pragma once

#include <QString>
#include <utility>
#include <vector>

// Which tasks a bulk delete of the File menu removes, and what it says about it. The window
// walks the table and asks this class about each record; nothing here touches the table.
class DeleteSweep {
 public:
  enum class Kind { MarkedDone, BeforeToday, Matching, NotMatching };

  // `today` is a date value: "before today" is measured from it.
  DeleteSweep(Kind kind, double today) : kind_(kind), today_(today) {}

  Kind kind() const { return kind_; }
  // True for the two that take the tasks the filter shows or hides (they need a filter).
  bool ByFilter() const { return kind_ == Kind::Matching || kind_ == Kind::NotMatching; }

  // MarkedDone and BeforeToday, record by record in file order: whether the live task with
  // these stored fields goes. A task without a valid date counts as due ten days from today,
  // so it stays.
  bool Takes(bool done, const QString& storedDate) const;

  // Matching and NotMatching: the live records (not `deleted`, index = record number, 0 none)
  // that the filter lets `passes` (NotMatching: does not let pass), in record-number order.
  std::vector<quint32> ByFilterCandidates(const std::vector<bool>& deleted, const std::vector<bool>& passes) const;

  // The question asked before deleting `count` tasks, and the report after `deleted` went.
  QString Question(size_t count) const;
  QString Outcome(size_t deleted) const;
  // " This will delete N tasks." as the questions end it.
  static QString CountSentence(size_t count);

 private:
  Kind kind_;
  double today_;
};

// What Undo Delete brings back: the records of the last delete that removed any, until a pack
// renumbers the records (Forget).
class DeleteHistory {
 public:
  // A delete that removed nothing leaves the earlier one to undo.
  void Remember(std::vector<quint32> recnos) {
    if (!recnos.empty()) recnos_ = std::move(recnos);
  }
  void Forget() { recnos_.clear(); }
  bool CanUndo() const { return !recnos_.empty(); }
  // The records to bring back; the history is empty afterwards.
  std::vector<quint32> Take() { return std::exchange(recnos_, {}); }

  static QString RecalledSentence(size_t count);

 private:
  std::vector<quint32> recnos_;
};
