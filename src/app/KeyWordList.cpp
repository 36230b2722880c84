#include "app/KeyWordList.h"

#include "db/Cp1252.h"

const QString KeyWordList::kClearEntry = QStringLiteral("Clear Entry");

void KeyWordList::AddWordsOf(const QString& text) {
  QString word;
  auto flush = [&] {
    if (word.isEmpty()) return;
    if (!words_.contains(word, Qt::CaseInsensitive)) words_.append(word);
    word.clear();
  };
  for (QChar c : text) {
    if (c == QLatin1Char(' ')) flush();
    else word += c;
  }
  flush();
}

QString KeyWordList::AfterPick(const QString& keys, const QString& picked) {
  if (picked == kClearEntry) return QString();
  return keys.isEmpty() ? picked : keys + QLatin1Char(' ') + picked;
}

KeyWordCollector::KeyWordCollector(KeyWordList& list) : list_(list), textOf_(1, -1) { list_.Clear(); }

void KeyWordCollector::Record(quint32 recno, const QByteArray& keys) {
  auto it = textIds_.find(keys);
  if (it == textIds_.end()) {
    it = textIds_.insert(keys, int(texts_.size()));
    texts_.push_back(keys);
    seen_.push_back(false);
    KeyWordList words;
    words.AddWordsOf(Cp1252::Decode(keys));
    for (const QString& w : words.Words()) distinct_.insert(w.toCaseFolded());
  }
  if (textOf_.size() <= recno) textOf_.resize(size_t(recno) + 1, -1);
  textOf_[recno] = it.value();
}

bool KeyWordCollector::Visit(quint32 recno) {
  const int id = recno < textOf_.size() ? textOf_[recno] : -1;
  if (id >= 0 && !seen_[size_t(id)]) {
    seen_[size_t(id)] = true;
    list_.AddWordsOf(Cp1252::Decode(texts_[size_t(id)]));
  }
  return list_.Words().size() < distinct_.size();
}
