#include "widgets/TPopupHelpText.h"

#include <QtEndian>

namespace {

// Reads little-endian numbers and byte runs, refusing to go past the end.
class Reader {
 public:
  explicit Reader(const QByteArray& bytes) : bytes_(bytes) {}
  bool Read(void* out, qsizetype size) {
    if (size > bytes_.size() - pos_) return false;
    memcpy(out, bytes_.constData() + pos_, size);
    pos_ += size;
    return true;
  }
  template <typename T>
  bool ReadLe(T* value) {
    T raw;
    if (!Read(&raw, sizeof raw)) return false;
    *value = qFromLittleEndian(raw);
    return true;
  }
  bool ReadBytes(QByteArray* out, qsizetype size) {
    if (size > bytes_.size() - pos_) return false;
    *out = bytes_.mid(pos_, size);
    pos_ += size;
    return true;
  }
  qsizetype Offset() const { return pos_; }
  qsizetype Left() const { return bytes_.size() - pos_; }

 private:
  const QByteArray& bytes_;
  qsizetype pos_ = 0;
};

template <typename T>
void AppendLe(QByteArray* out, T value) {
  const T raw = qToLittleEndian(value);
  out->append(reinterpret_cast<const char*>(&raw), sizeof raw);
}

bool Fail(QString* error, const QString& message) {
  if (error) *error = QStringLiteral("HelpData: ") + message;
  return false;
}

}  // namespace

TPopupHelpText::TPopupHelpText(const TPopupHelpText& other) {
  *this = other;
}

TPopupHelpText& TPopupHelpText::operator=(const TPopupHelpText& other) {
  if (this == &other) return *this;
  std::vector<Entry> copy;
  copy.reserve(other.entries_.size());
  for (const Entry& entry : other.entries_) {
    copy.push_back(
        {entry.name, entry.data ? std::make_unique<TPopupHelpData>(*entry.data) : nullptr});
  }
  entries_ = std::move(copy);
  return *this;
}

QStringList TPopupHelpText::Names() const {
  QStringList names;
  for (const Entry& entry : entries_) names.append(entry.name);
  return names;
}

void TPopupHelpText::SetData(int index, std::unique_ptr<TPopupHelpData> data) {
  entries_.at(index).data = std::move(data);
}

bool TPopupHelpText::Add(const QString& name, std::unique_ptr<TPopupHelpData> data) {
  if (Count() >= kMaxEntries) return false;
  entries_.push_back({name, std::move(data)});
  return true;
}

bool TPopupHelpText::AddHelp(const QString& control_name, const QString& text,
                             quint32 help_context) {
  auto data = std::make_unique<TPopupHelpData>();
  data->SetHelpContext(help_context);
  if (!data->SetText(text)) return false;
  return Add(control_name, std::move(data));
}

TPopupHelpData* TPopupHelpText::FindText(const QString& name) const {
  for (const Entry& entry : entries_) {
    if (entry.name == name && entry.data && entry.data->HasText()) return entry.data.get();
  }
  return nullptr;
}

QByteArray TPopupHelpText::WriteHelpData() const {
  QByteArray out;
  AppendLe<qint16>(&out, static_cast<qint16>(Count()));
  for (const Entry& entry : entries_) {
    if (!entry.data) {
      out.append('\0');
      continue;
    }
    const TPopupHelpData& data = *entry.data;
    out.append('\1');
    AppendLe<quint16>(&out, data.ReservedWord());
    if (data.RawText()) {
      const QByteArray& text = *data.RawText();
      AppendLe<quint16>(&out, static_cast<quint16>(text.size() + 1));
      out.append(text);
      out.append('\0');
    } else {
      AppendLe<quint16>(&out, 0);
    }
    out.append(static_cast<char>(data.ReservedByte()));
    AppendLe<quint32>(&out, data.HelpContext());
  }
  return out;
}

bool TPopupHelpText::ReadHelpData(const QByteArray& bytes, QString* error) {
  Reader reader(bytes);
  qint16 count = 0;
  if (!reader.ReadLe(&count)) return Fail(error, QStringLiteral("no entry count"));
  if (count != Count()) {
    return Fail(error, QStringLiteral("%1 entries for %2 names").arg(count).arg(Count()));
  }
  std::vector<std::unique_ptr<TPopupHelpData>> records;
  records.reserve(count);
  for (int i = 0; i < count; ++i) {
    const QString where = QStringLiteral("entry %1 (%2)").arg(i).arg(entries_[i].name);
    quint8 present = 0;
    if (!reader.ReadLe(&present)) return Fail(error, where + QStringLiteral(" is missing"));
    if (present == 0) {
      records.push_back(nullptr);
      continue;
    }
    if (present != 1) {
      return Fail(error, where + QStringLiteral(" has presence mark %1").arg(present));
    }
    auto data = std::make_unique<TPopupHelpData>();
    quint16 reserved_word = 0, length = 0;
    if (!reader.ReadLe(&reserved_word) || !reader.ReadLe(&length)) {
      return Fail(error, where + QStringLiteral(" is cut short"));
    }
    data->SetReservedWord(reserved_word);
    if (length > 0) {
      QByteArray text;
      if (!reader.ReadBytes(&text, length)) {
        return Fail(error, where + QStringLiteral(" is cut short in its text"));
      }
      if (text.back() != '\0') {
        return Fail(error, where + QStringLiteral(" has a text without its closing zero"));
      }
      text.chop(1);
      data->SetRawText(text);
    }
    quint8 reserved_byte = 0;
    quint32 context = 0;
    if (!reader.ReadLe(&reserved_byte) || !reader.ReadLe(&context)) {
      return Fail(error, where + QStringLiteral(" is cut short"));
    }
    data->SetReservedByte(reserved_byte);
    data->SetHelpContext(context);
    records.push_back(std::move(data));
  }
  if (reader.Left() != 0) {
    return Fail(error, QStringLiteral("%1 bytes left after the last entry").arg(reader.Left()));
  }
  for (int i = 0; i < count; ++i) entries_[i].data = std::move(records[i]);
  return true;
}
