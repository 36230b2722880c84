#include "widgets/GridAnnouncer.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>

GridAnnouncer::GridAnnouncer(QAbstractItemView* view, const QString& what, const QString& help)
    : QObject(view), view_(view), what_(what), help_(help) {
  if (QItemSelectionModel* selection = view->selectionModel())
    connect(selection, &QItemSelectionModel::currentChanged, this, &GridAnnouncer::Announce);
  if (QAbstractItemModel* model = view->model()) {
    // A reset or changed values (an edit, the table read again) change what the row says.
    connect(model, &QAbstractItemModel::modelReset, this, &GridAnnouncer::Announce);
    connect(model, &QAbstractItemModel::dataChanged, this, &GridAnnouncer::Announce);
  }
  Announce();
}

QString GridAnnouncer::Describe(int row) const {
  const QAbstractItemModel* model = view_ ? view_->model() : nullptr;
  if (model == nullptr || row < 0 || row >= model->rowCount()) return QString();
  QStringList parts;
  for (int c = 0; c < model->columnCount(); ++c) {
    const QString value = model->data(model->index(row, c)).toString().trimmed();
    if (value.isEmpty()) continue;
    const QString title = model->headerData(c, Qt::Horizontal).toString().trimmed();
    parts << (title.isEmpty() ? value : title + QLatin1Char(' ') + value);
  }
  return QStringLiteral("%1 %2 of %3: %4")
      .arg(what_)
      .arg(row + 1)
      .arg(model->rowCount())
      .arg(parts.join(QStringLiteral(", ")));
}

void GridAnnouncer::Announce() {
  if (!view_) return;
  const QString row = Describe(view_->currentIndex().row());
  QString text = row;
  if (!help_.isEmpty()) text += (text.isEmpty() ? QString() : QStringLiteral("\n\n")) + help_;
  // Setting it sends the accessibility event that makes a screen reader say it.
  if (text != view_->accessibleDescription()) view_->setAccessibleDescription(text);
}
