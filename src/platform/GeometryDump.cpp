#include "platform/GeometryDump.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstdio>

namespace {

QJsonArray Rect(const QRect& r) { return QJsonArray{r.x(), r.y(), r.width(), r.height()}; }

QRect GlobalRect(const QWidget* w, const QRect& local) {
  return QRect(w->mapToGlobal(local.topLeft()), local.size());
}

QString TextOf(const QWidget* w) {
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
  if (auto* p = qobject_cast<const QPlainTextEdit*>(w)) return p->toPlainText();
  return w->isWindow() ? w->windowTitle() : QString();
}

QJsonObject Describe(const QWidget* w) {
  QJsonObject o;
  o[QStringLiteral("name")] = w->objectName();
  o[QStringLiteral("class")] = QString::fromLatin1(w->metaObject()->className());
  o[QStringLiteral("rect")] = Rect(GlobalRect(w, w->rect()));
  o[QStringLiteral("text")] = TextOf(w);
  o[QStringLiteral("enabled")] = w->isEnabled();
  o[QStringLiteral("focus")] = w->hasFocus();
  if (auto* b = qobject_cast<const QAbstractButton*>(w); b && b->isCheckable())
    o[QStringLiteral("checked")] = b->isChecked();
  if (auto* menu = qobject_cast<const QMenu*>(w)) {
    QJsonArray actions;
    for (QAction* a : menu->actions()) {
      if (a->isSeparator() || !a->isVisible()) continue;
      actions.append(QJsonObject{{QStringLiteral("name"), a->objectName()},
                                 {QStringLiteral("text"), a->text()},
                                 {QStringLiteral("enabled"), a->isEnabled()},
                                 {QStringLiteral("checked"), a->isChecked()},
                                 // the highlighted item, where Enter acts by keyboard
                                 {QStringLiteral("active"), a == menu->activeAction()},
                                 {QStringLiteral("rect"), Rect(GlobalRect(w, menu->actionGeometry(a)))}});
    }
    o[QStringLiteral("actions")] = actions;
  }
  if (auto* bar = qobject_cast<const QMenuBar*>(w)) {
    QJsonArray actions;
    for (QAction* a : bar->actions())
      actions.append(QJsonObject{{QStringLiteral("text"), a->text()},
                                 {QStringLiteral("rect"), Rect(GlobalRect(w, bar->actionGeometry(a)))}});
    o[QStringLiteral("actions")] = actions;
  }
  if (auto* view = qobject_cast<const QAbstractItemView*>(w); view && view->model()) {
    QJsonArray cells;
    const QAbstractItemModel* m = view->model();
    const QRect visible = view->viewport()->rect();
    const QModelIndex current = view->currentIndex();
    for (int r = 0; r < m->rowCount(); ++r) {
      const QRect first = view->visualRect(m->index(r, 0));
      if (first.top() > visible.bottom()) break;
      if (first.bottom() < visible.top()) continue;
      for (int c = 0; c < m->columnCount(); ++c) {
        const QModelIndex index = m->index(r, c);
        const QRect cell = view->visualRect(index).intersected(visible);
        if (cell.isEmpty()) continue;
        cells.append(QJsonObject{{QStringLiteral("row"), r},
                                 {QStringLiteral("column"), c},
                                 {QStringLiteral("text"), index.data().toString()},
                                 {QStringLiteral("current"), index == current},
                                 {QStringLiteral("rect"), Rect(GlobalRect(view->viewport(), cell))}});
      }
    }
    o[QStringLiteral("cells")] = cells;
    o[QStringLiteral("rows")] = m->rowCount();
  }
  return o;
}

}  // namespace

GeometryDump::GeometryDump(const QString& path, QObject* parent) : QObject(parent), path_(path) {
  if (path_.isEmpty()) return;
  auto* timer = new QTimer(this);
  timer->setInterval(100);
  connect(timer, &QTimer::timeout, this, &GeometryDump::Write);
  timer->start();
}

QByteArray GeometryDump::Snapshot() {
  QJsonArray windows;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (!top->isVisible()) continue;
    QJsonObject window = Describe(top);
    QJsonArray children;
    for (QWidget* child : top->findChildren<QWidget*>()) {
      if (!child->isVisible() || child->isWindow()) continue;
      children.append(Describe(child));
    }
    window[QStringLiteral("children")] = children;
    windows.append(window);
  }
  QJsonObject all;
  all[QStringLiteral("windows")] = windows;
  QWidget* active = QApplication::activeWindow();
  QWidget* modal = QApplication::activeModalWidget();
  QWidget* popup = QApplication::activePopupWidget();
  QWidget* focus = QApplication::focusWidget();
  all[QStringLiteral("active")] = active ? active->objectName() : QString();
  all[QStringLiteral("modal")] = modal ? modal->objectName() : QString();
  all[QStringLiteral("popup")] = popup ? popup->objectName() : QString();
  all[QStringLiteral("focus")] = focus ? focus->objectName() : QString();
  return QJsonDocument(all).toJson(QJsonDocument::Compact);
}

void GeometryDump::Write() {
  const QByteArray now = Snapshot();
  if (now == last_) return;
  QFile out(path_ + QStringLiteral(".tmp"));
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  out.write(now);
  out.close();
  // rename() replaces the old file in one step; a reader sees the old layout or the new one.
  if (std::rename(QFile::encodeName(path_ + QStringLiteral(".tmp")).constData(), QFile::encodeName(path_).constData()) == 0)
    last_ = now;
}
