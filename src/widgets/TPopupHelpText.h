#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "widgets/TPopupHelpData.h"

// The control names of a form, each with an optional help record. The list owns its records;
// copying a list copies every record.
//
// The records are stored as the raw-bytes form property "HelpData" (little-endian):
//   count        int16   number of entries, equal to the number of names
//   per entry:   present uint8 (1: a record follows, 0: nothing follows)
//                reserved word uint16, text length uint16 (bytes with the zero; 0 = no text),
//                text bytes + zero byte, reserved byte uint8, help context uint32
// Entry i belongs to name i; the names themselves are stored as an ordinary string list.
class TPopupHelpText {
 public:
  static constexpr char kPropertyName[] = "HelpData";
  static constexpr int kMaxEntries = 32767;

  TPopupHelpText() = default;
  TPopupHelpText(const TPopupHelpText& other);
  TPopupHelpText& operator=(const TPopupHelpText& other);
  TPopupHelpText(TPopupHelpText&&) noexcept = default;
  TPopupHelpText& operator=(TPopupHelpText&&) noexcept = default;

  int Count() const { return static_cast<int>(entries_.size()); }
  QString Name(int index) const { return entries_.at(index).name; }
  QStringList Names() const;
  // The record of entry `index`, or nullptr when the name has none.
  TPopupHelpData* Data(int index) { return entries_.at(index).data.get(); }
  const TPopupHelpData* Data(int index) const { return entries_.at(index).data.get(); }
  void SetData(int index, std::unique_ptr<TPopupHelpData> data);

  // Appends a name with an optional record; false when the list is full.
  bool Add(const QString& name, std::unique_ptr<TPopupHelpData> data = nullptr);
  // What a form calls to register a control's text: a record with `text` and `help_context`.
  // False when the text cannot be stored (not Windows-1252, too long) or the list is full.
  bool AddHelp(const QString& control_name, const QString& text, quint32 help_context = 0);
  void Clear() { entries_.clear(); }

  // The first record of that exact name (letter case counts) that has a text, or nullptr;
  // entries without a record or without text are passed over.
  TPopupHelpData* FindText(const QString& name) const;

  // The "HelpData" bytes of the records.
  QByteArray WriteHelpData() const;
  // Reads "HelpData" bytes for the names already in the list. On any fault (short data, a count
  // that does not match the names, a text without its zero byte, bytes left over) the list is
  // left as it was and `error` tells what was wrong.
  bool ReadHelpData(const QByteArray& bytes, QString* error = nullptr);

 private:
  struct Entry {
    QString name;
    std::unique_ptr<TPopupHelpData> data;
  };
  std::vector<Entry> entries_;
};
