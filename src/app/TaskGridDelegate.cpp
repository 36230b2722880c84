#include "app/TaskGridDelegate.h"

#include <QLineEdit>

#include "dialogs/TaskEditorTextGuard.h"

TaskGridDelegate::TaskGridDelegate(int keysColumn, KeysStore storeKeys, QObject* parent)
    : QStyledItemDelegate(parent), keysColumn_(keysColumn), storeKeys_(std::move(storeKeys)) {}

QWidget* TaskGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
  QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
  if (auto* line = qobject_cast<QLineEdit*>(editor)) TaskEditorTextGuard::Guard(line);
  return editor;
}

void TaskGridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
  auto* line = qobject_cast<QLineEdit*>(editor);
  if (index.column() == keysColumn_ && line != nullptr && storeKeys_) {
    // An unchanged cell is no edit: leaving it must not rewrite the record.
    if (line->text() != model->data(index, Qt::EditRole).toString()) storeKeys_(index.row(), line->text());
    return;
  }
  QStyledItemDelegate::setModelData(editor, model, index);
}
