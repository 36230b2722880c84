#include "widgets/TPopupHelpMask.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <utility>

TPopupHelpMask::TPopupHelpMask(QWidget* form, Answers answers)
    : QWidget(form), form_(form), answers_(std::move(answers)) {
  setObjectName(QStringLiteral("PopupHelpMask"));
  setGeometry(0, 0, 0, 0);
  setAttribute(Qt::WA_NoSystemBackground);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
}

TPopupHelpMask::~TPopupHelpMask() {
  ReleaseInput();
}

void TPopupHelpMask::Start() {
  raise();
  show();
  previous_active_ = form_ ? form_->focusWidget() : nullptr;
  QApplication::setOverrideCursor(answers_.cursor);
  cursor_set_ = true;
  grabMouse();
  setFocus(Qt::OtherFocusReason);
  // A form may watch every key of the application (to run commands by key); while the mode
  // lasts the keys are the mask's alone, so it sees them before any other watcher.
  qApp->installEventFilter(this);
  filtering_ = true;
}

void TPopupHelpMask::ReleaseInput() {
  if (filtering_) {
    filtering_ = false;
    qApp->removeEventFilter(this);
  }
  if (QWidget::mouseGrabber() == this) releaseMouse();
  if (cursor_set_) {
    cursor_set_ = false;
    QApplication::restoreOverrideCursor();
  }
}

QWidget* TPopupHelpMask::ControlAt(const QPoint& global, QWidget* form) {
  if (form) {
    const QPoint local = form->mapFromGlobal(global);
    if (form->rect().contains(local)) {
      QWidget* child = form->childAt(local);
      return child ? child : form;
    }
  }
  return QApplication::widgetAt(global);
}

void TPopupHelpMask::Finish(bool notify) {
  if (finished_) return;
  finished_ = true;
  ended_ = true;
  ReleaseInput();
  if (notify && answers_.nothing_shown) answers_.nothing_shown();
  if (previous_active_) previous_active_->setFocus(Qt::OtherFocusReason);
  hide();
  deleteLater();
}

bool TPopupHelpMask::event(QEvent* event) {
  // While the mode lasts no accelerator or shortcut of the form may fire: the keys are ours.
  if (event->type() == QEvent::ShortcutOverride) {
    event->accept();
    return true;
  }
  return QWidget::event(event);
}

bool TPopupHelpMask::eventFilter(QObject* watched, QEvent* event) {
  if (watched == this && event->type() == QEvent::KeyPress) {
    keyPressEvent(static_cast<QKeyEvent*>(event));
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TPopupHelpMask::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (ended_ || event->button() != Qt::LeftButton) return;
  ended_ = true;
  ReleaseInput();
  const QPoint global = event->globalPosition().toPoint();
  bool shown = false;
  QWidget* control = ControlAt(global, form_);
  if (control && control != this) {
    QWidget* window = control->window();
    // A form that cannot take input now (disabled, or behind a modal dialog) shows nothing.
    QWidget* modal = QApplication::activeModalWidget();
    const bool blocked =
        !window->isEnabled() || (modal && modal != window && !modal->isAncestorOf(window));
    if (!blocked) {
      for (QWidget* c = control; c && !c->isWindow(); c = c->parentWidget()) {
        if (answers_.explain && answers_.explain(c)) {
          shown = true;
          break;
        }
      }
    }
  }
  Finish(!shown);
}

void TPopupHelpMask::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  if (ended_) return;
  QWidget* w = ControlAt(event->globalPosition().toPoint(), form_);
  while (w && !w->isEnabled()) w = w->parentWidget();
  QApplication::changeOverrideCursor(w ? answers_.cursor : QCursor(Qt::ArrowCursor));
}

void TPopupHelpMask::keyPressEvent(QKeyEvent* event) {
  event->accept();
  if (ended_ || event->key() != Qt::Key_Escape) return;
  Finish(true);
}

void TPopupHelpMask::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  if (!ended_) Finish(true);
}

// Nothing to draw, and nothing to erase: the mask is never seen.
void TPopupHelpMask::paintEvent(QPaintEvent*) {}
