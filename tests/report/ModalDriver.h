#pragma once

// Plays the person at the keyboard for the modal windows a command opens: every few
// milliseconds, also while a report runs and lets events through, the window on top of the modal
// stack is handed to the test's callback, which looks at it and presses its buttons.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

class ModalDriver {
 public:
  explicit ModalDriver(std::function<void(QWidget*)> act) : act_(std::move(act)) {
    timer_.setInterval(2);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (busy_) return;
      QWidget* top = QApplication::activeModalWidget();
      if (top == nullptr || !top->isVisible()) return;
      busy_ = true;
      act_(top);
      busy_ = false;
    });
    timer_.start();
  }

 private:
  std::function<void(QWidget*)> act_;
  QTimer timer_;
  bool busy_ = false;
};
