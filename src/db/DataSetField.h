#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include "db/CursorTypes.h"

class TableDataSet;

// One field of a table dataset: a data field bound to a table column by number, or a
// calculated field that the dataset's OnCalcFields handler fills each time a record is fetched.
// Reads come from the dataset's current record; assignments need the dataset in edit or insert
// state (calculated fields: while the handler runs).
class DataSetField {
 public:
  DataSetField(TableDataSet* owner, const QString& name, FieldKind kind, int fieldNo, int size, bool calculated);

  const QString& FieldName() const { return name_; }
  int FieldNo() const { return fieldNo_; }  // 1-based column, 0 for calculated fields
  FieldKind DataType() const { return kind_; }
  int Size() const { return size_; }
  bool Calculated() const { return calculated_; }
  TableDataSet* DataSet() const { return owner_; }

  // A blank field (all blanks in the file, or never assigned) reads as null: empty text,
  // false, zero.
  bool IsNull() const;
  QVariant Value() const;
  QString AsString() const;
  bool AsBoolean() const;
  int AsInteger() const;
  double AsFloat() const;
  // A memo as lines (split at CR LF, CR or LF).
  QStringList Lines() const;
  QString DisplayText() const { return AsString(); }

  void SetValue(const QVariant& value);
  void SetAsString(const QString& text);
  void SetAsBoolean(bool value);
  void SetAsInteger(int value);
  void SetAsFloat(double value);
  void SetLines(const QStringList& lines);  // joined with CR LF
  void Clear() { SetValue(QVariant()); }

 private:
  TableDataSet* owner_;
  QString name_;
  FieldKind kind_;
  int fieldNo_;
  int size_;
  bool calculated_;
};
