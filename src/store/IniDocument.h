#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// The text of one settings file, held as its lines so that a change touches only the line of the
// key it changes: comments, blank lines, unknown sections and keys, and the spelling the user
// gave them survive every write byte for byte.
//
// The reading rules are those of the classic private-profile files: a section starts at a line
// "[name]"; a setting is a line "key=value" inside a section; section and key names are compared
// without regard to case and without their surrounding blanks; the value loses its surrounding
// blanks and, when it is enclosed in a matching pair of double or single quotes, those quotes.
// Lines starting with ';' are comments. When a section or a key appears twice, the first one
// counts. Lines before the first section belong to no section.
class IniDocument {
 public:
  IniDocument() = default;

  // Bytes of a settings file: UTF-8, or, for lines that are not valid UTF-8, Windows-1252 (files
  // written by older versions of the program). Both line-end conventions are read.
  static IniDocument Parse(const QByteArray& bytes);
  // The file's bytes again; untouched lines come back as they were read.
  QByteArray ToBytes() const;

  // The value of `key` in `section`, or nothing when the section or the key is missing.
  std::optional<QString> Value(const QString& section, const QString& key) const;
  bool HasSection(const QString& section) const;
  // Names of the sections, in file order, first spelling of each.
  QList<QString> SectionNames() const;
  // Names of the keys of `section`, in file order.
  QList<QString> KeyNames(const QString& section) const;

  // Names and values that the file form can hold: a section name must not contain ']' or a line
  // break; a key must not be empty, contain '=' or a line break, or start with '[' or ';'; a
  // value must not contain a line break. Anything else would change the meaning of other lines.
  static bool IsValidSectionName(const QString& section);
  static bool IsValidKeyName(const QString& key);
  static bool IsValidValue(const QString& value);

  // Replaces the value of an existing key in place, or adds the key at the end of its section,
  // or adds the section at the end of the file. Returns false (and changes nothing) for a name
  // or value that the file form cannot hold.
  bool SetValue(const QString& section, const QString& key, const QString& value);
  // Removes the key's line; false when there was none.
  bool RemoveKey(const QString& section, const QString& key);

 private:
  struct Line {
    QByteArray raw;   // the line as stored, without its line end
    QString section;  // section name when the line is a section header
    QString key;      // key name when the line is a setting
    bool isSection = false;
    bool isSetting = false;
  };

  static Line Classify(const QByteArray& raw);
  // Index of the header line of `section`, or -1.
  int FindSection(const QString& section) const;
  // Index of the line that holds `key` in the section whose header is at `header`, or -1.
  int FindKey(int header, const QString& key) const;
  // One past the last line of the section whose header is at `header`.
  int SectionEnd(int header) const;

  QList<Line> lines_;
  QByteArray lineEnd_ = "\n";
  bool finalLineEnd_ = true;
};
