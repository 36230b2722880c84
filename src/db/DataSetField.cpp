#include "db/DataSetField.h"

#include <QRegularExpression>

#include "db/TableDataSet.h"

DataSetField::DataSetField(TableDataSet* owner, const QString& name, FieldKind kind, int fieldNo, int size, bool calculated)
    : owner_(owner), name_(name), kind_(kind), fieldNo_(fieldNo), size_(size), calculated_(calculated) {}

bool DataSetField::IsNull() const {
  const QVariant v = owner_->FieldValue(this);
  return !v.isValid() || v.isNull();
}

QVariant DataSetField::Value() const { return owner_->FieldValue(this); }

QString DataSetField::AsString() const {
  const QVariant v = owner_->FieldValue(this);
  if (!v.isValid()) return QString();
  if (kind_ == FieldKind::Logical) return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
  return v.toString();
}

bool DataSetField::AsBoolean() const {
  const QVariant v = owner_->FieldValue(this);
  if (!v.isValid()) return false;
  if (v.typeId() == QMetaType::QString) {
    const QString s = v.toString().trimmed().toUpper();
    return s == QLatin1String("T") || s == QLatin1String("TRUE") || s == QLatin1String("Y");
  }
  return v.toBool();
}

int DataSetField::AsInteger() const { return owner_->FieldValue(this).toInt(); }
double DataSetField::AsFloat() const { return owner_->FieldValue(this).toDouble(); }

QStringList DataSetField::Lines() const {
  const QString text = AsString();
  if (text.isEmpty()) return {};
  static const QRegularExpression kBreak(QStringLiteral("\r\n|\r|\n"));
  return text.split(kBreak);
}

void DataSetField::SetValue(const QVariant& value) { owner_->SetFieldValue(this, value); }

void DataSetField::SetAsString(const QString& text) {
  switch (kind_) {
    case FieldKind::Logical: {
      const QString s = text.trimmed().toUpper();
      if (s.isEmpty()) SetValue(QVariant());
      else SetValue(s.startsWith(QLatin1Char('T')) || s.startsWith(QLatin1Char('Y')));
      break;
    }
    case FieldKind::SmallInt:
    case FieldKind::Float:
    case FieldKind::Date: {
      if (text.trimmed().isEmpty()) {
        SetValue(QVariant());
        break;
      }
      bool ok = false;
      const double v = text.trimmed().toDouble(&ok);
      if (!ok) throw EDatabaseError(QStringLiteral("'%1' is not a valid value for field '%2'").arg(text, name_));
      SetValue(v);
      break;
    }
    default: SetValue(text.isEmpty() ? QVariant() : QVariant(text)); break;
  }
}

void DataSetField::SetAsBoolean(bool value) { SetValue(value); }
void DataSetField::SetAsInteger(int value) { SetValue(value); }
void DataSetField::SetAsFloat(double value) { SetValue(value); }
void DataSetField::SetLines(const QStringList& lines) { SetAsString(lines.join(QStringLiteral("\r\n"))); }
