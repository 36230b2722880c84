#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// One control's help record: its popup text and the help topic its "more" line opens.
//
// The text is kept as the 8-bit (Windows-1252) bytes that the stored "HelpData" form property
// holds, so a list read and written again gives the same bytes. The two reserved fields are
// not used by the program but are carried through unchanged for the same reason.
class TPopupHelpData {
 public:
  // A text longer than this cannot be stored: the stored length (with its zero byte) is 16-bit.
  static constexpr int kMaxTextBytes = 0xFFFE;

  TPopupHelpData() = default;
  // A record as the forms hold it: reserved word 0, reserved byte 1.
  explicit TPopupHelpData(const QString& text, quint32 help_context = 0);

  quint16 ReservedWord() const { return reserved_word_; }
  void SetReservedWord(quint16 value) { reserved_word_ = value; }
  quint8 ReservedByte() const { return reserved_byte_; }
  void SetReservedByte(quint8 value) { reserved_byte_ = value; }
  quint32 HelpContext() const { return help_context_; }
  void SetHelpContext(quint32 context) { help_context_ = context; }

  // True when there is a text with at least one character: only such records are shown.
  bool HasText() const { return raw_text_.has_value() && !raw_text_->isEmpty(); }
  // True when there is a text at all, empty or not (they are stored differently).
  bool HasTextField() const { return raw_text_.has_value(); }
  QString Text() const;
  // Refused (false, record unchanged) for a text Windows-1252 cannot hold or one too long.
  bool SetText(const QString& text);
  void ClearText() { raw_text_.reset(); }

  // The stored bytes, without the terminating zero.
  const std::optional<QByteArray>& RawText() const { return raw_text_; }
  // Refused (false) beyond kMaxTextBytes.
  bool SetRawText(const QByteArray& bytes);

  // Windows-1252 conversions; Encode fails for characters outside the code page.
  static QString Decode(const QByteArray& bytes);
  static std::optional<QByteArray> Encode(const QString& text);

 private:
  quint16 reserved_word_ = 0;
  std::optional<QByteArray> raw_text_;
  quint8 reserved_byte_ = 1;
  quint32 help_context_ = 0;
};
