// Input the way a person gives it, for the window tests: mouse presses and releases and key
// presses go to the platform window through Qt's window-system queue, so Qt itself routes them
// (to the widget under the pointer, to the focused control, to the shortcut, to an open menu) and
// modality and popups apply as they do for the user. Controls are found by object name only.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>

namespace RealEvents {

template <typename T = QWidget>
T* Named(const QWidget* root, const char* name) {
  if (root == nullptr) return nullptr;
  T* w = root->findChild<T*>(QString::fromLatin1(name));
  if (w == nullptr) qWarning("no control named %s under %s", name, qPrintable(root->objectName()));
  return w;
}

// The window a key goes to: an open menu first, then a modal dialog, then the active window.
inline QWidget* KeyWindow() {
  if (QWidget* popup = QApplication::activePopupWidget()) return popup;
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

// What a window manager does for a window that comes up: it becomes the active one.
inline bool Activate(QWidget* window) {
  window = window->window();
  if (!window->isActiveWindow()) window->activateWindow();
  return QTest::qWaitFor([window] { return window->isActiveWindow(); }, 5000);
}

// A key press and release, delivered to whatever has the keyboard focus in the window on top.
inline void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* target = KeyWindow();
  if (target == nullptr || target->windowHandle() == nullptr) {
    qWarning("no window takes the key %d", key);
    return;
  }
  QTest::keyClick(target->windowHandle(), Qt::Key(key), modifiers);
}

inline void Type(const QString& text) {
  for (const QChar c : text) {
    QWidget* target = KeyWindow();
    if (target == nullptr || target->windowHandle() == nullptr) return;
    QTest::keyClick(target->windowHandle(), c.toLatin1());
  }
}

// A left click (or another button) at `at` inside `w` (its middle by default).
inline void Click(QWidget* w, QPoint at = QPoint(-1, -1), Qt::MouseButton button = Qt::LeftButton) {
  if (at == QPoint(-1, -1)) at = w->rect().center();
  QWidget* top = w->window();
  QTest::mouseClick(top->windowHandle(), button, Qt::NoModifier, w->mapTo(top, at));
}

inline void DoubleClick(QWidget* w, QPoint at = QPoint(-1, -1)) {
  if (at == QPoint(-1, -1)) at = w->rect().center();
  QWidget* top = w->window();
  // Two presses and releases close together: the platform layer makes the second press a
  // double click.
  QTest::mouseDClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier, w->mapTo(top, at));
}

// The highlighted item of the open menu moved with Down until it reads `text` (without the
// accelerator mark and the part after a tab), then Enter. False when no item reads so.
inline bool ChooseByKeys(const QString& text) {
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  if (menu == nullptr) return false;
  auto plain = [](const QString& t) { return t.section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')); };
  for (int i = 0; i <= menu->actions().size(); ++i) {
    if (menu->activeAction() && plain(menu->activeAction()->text()) == text) {
      Key(Qt::Key_Return);
      return true;
    }
    Key(Qt::Key_Down);
  }
  qWarning("no menu item %s", qPrintable(text));
  return false;
}

// The item of the open menu that reads `text`, clicked with the mouse.
inline bool ChooseByMouse(const QString& text) {
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  if (menu == nullptr) return false;
  for (QAction* a : menu->actions()) {
    if (a->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')) == text) {
      Click(menu, menu->actionGeometry(a).center());
      return true;
    }
  }
  qWarning("no menu item %s", qPrintable(text));
  return false;
}

// Runs `drive` once `ready` holds, from the event loop (a command may be inside a modal dialog's
// or a menu's own loop by then). Whatever is still open 10 s after `drive` was armed is closed
// with Esc, so a failed step cannot leave the test hanging in a dialog.
inline void When(std::function<bool()> ready, std::function<void()> drive) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  auto* clock = new QElapsedTimer;
  clock->start();
  QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, ready, drive] {
    if (ready()) {
      timer->stop();
      timer->deleteLater();
      delete clock;
      drive();
    } else if (clock->elapsed() > 10000) {
      timer->stop();
      timer->deleteLater();
      delete clock;
      qWarning("timed out waiting for a window or menu");
    }
  });
  timer->start();
}

// Closes `w` if it is still open 10 s on: a driver that failed half-way must not leave the test
// waiting in a dialog's or menu's loop.
inline void CloseLater(QWidget* w) {
  QPointer<QWidget> open(w);
  QTimer::singleShot(10000, [open] {
    if (open && open->isVisible()) {
      qWarning("closing %s left open", qPrintable(open->objectName()));
      open->close();
    }
  });
}

// `drive` runs when the modal dialog named `name` is up and active.
inline void WhenModal(const char* name, std::function<void(QWidget&)> drive) {
  const QString wanted = QString::fromLatin1(name);
  When([wanted] { QWidget* m = QApplication::activeModalWidget(); return m && m->objectName() == wanted && m->isVisible(); },
       [drive] {
         QWidget* m = QApplication::activeModalWidget();
         CloseLater(m);
         Activate(m);
         drive(*m);
       });
}

// `drive` runs when a menu is open.
inline void WhenMenu(std::function<void(QMenu&)> drive) {
  When([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; },
       [drive] {
         auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
         CloseLater(menu);
         drive(*menu);
       });
}

}  // namespace RealEvents
