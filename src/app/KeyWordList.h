#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

// The key words the pick menus offer: every blank-separated word of the tasks' KEYS fields,
// each once (letter case ignored, the first spelling met kept), in the order they were met.
class KeyWordList {
 public:
  // The pick menu's entry that empties the task's key words.
  static const QString kClearEntry;

  const QStringList& Words() const { return words_; }
  void Clear() { words_.clear(); }
  // Adds the words of `text` that are not in the list yet, in their order. Only blanks
  // separate words; commas and other marks belong to the word.
  void AddWordsOf(const QString& text);

  // A task's key words after `picked` was chosen from the pick menu: the word appended after a
  // blank, or nothing for kClearEntry.
  static QString AfterPick(const QString& keys, const QString& picked);

 private:
  QStringList words_;
};

// Builds a KeyWordList in the order a walk of the table in its current order meets the words,
// without reading records all over the file for that walk: the first pass, in file order, hands
// each record's raw KEYS bytes to Record(); the second walks the order by record number alone
// through Visit() and may stop as soon as Visit() says every word has been met.
class KeyWordCollector {
 public:
  explicit KeyWordCollector(KeyWordList& list);

  // File-order pass: record `recno` holds `keys` (the field's bytes, Windows-1252).
  void Record(quint32 recno, const QByteArray& keys);
  // Order walk: adds the words of `recno` the first time its text is met; false once the list
  // holds every distinct word, so the walk can stop.
  bool Visit(quint32 recno);

 private:
  KeyWordList& list_;
  QHash<QByteArray, int> textIds_;  // each distinct KEYS text once
  std::vector<QByteArray> texts_;   // id -> text
  std::vector<bool> seen_;          // id -> its words were added
  std::vector<int> textOf_;         // record number -> id, -1 for none
  QSet<QString> distinct_;          // every word of every record, case-folded
};
