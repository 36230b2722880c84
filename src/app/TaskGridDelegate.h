#pragma once

#include <QStyledItemDelegate>
#include <functional>

// The cell editors of the task grid. Typed text is kept to what the task file can store (the
// editor refuses other characters as they are typed, with a message), and a Key words cell is
// stored through the window's own rule for key words instead of the model's plain one.
class TaskGridDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  // `storeKeys` stores the text typed into the Key words cell of row `row`.
  using KeysStore = std::function<void(int row, const QString& text)>;

  TaskGridDelegate(int keysColumn, KeysStore storeKeys, QObject* parent = nullptr);

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

 private:
  int keysColumn_;
  KeysStore storeKeys_;
};
