#pragma once

#include <QCursor>
#include <QPointer>
#include <QWidget>
#include <functional>

// Stands on a form while its help mode lasts: a zero-size control that takes the mouse and the
// keyboard, so the next left click picks the control to explain instead of pressing it, and Esc
// ends the mode. It remembers the control that had the focus and gives it back when done.
//
// The mask only picks; what is shown for a control is the help component's business, which it
// hands in as the answers below.
class TPopupHelpMask : public QWidget {
  Q_OBJECT

 public:
  struct Answers {
    // Shown over the form while the mode lasts.
    QCursor cursor;
    // Shows the help of `control`; false when it has none, and the pick goes on to its parent.
    std::function<bool(QWidget* control)> explain;
    // Called when the mode ends with nothing shown (Esc, a click on nothing, focus lost).
    std::function<void()> nothing_shown;
  };

  TPopupHelpMask(QWidget* form, Answers answers);
  ~TPopupHelpMask() override;

  // Takes the mouse and keyboard and shows the question cursor.
  void Start();
  QWidget* PreviousActive() const { return previous_active_; }
  bool Ended() const { return ended_; }

  // The control a left click at `global` picks (disabled ones too), or nullptr.
  static QWidget* ControlAt(const QPoint& global, QWidget* form);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // Ends the mode: capture and cursor back, focus back, mask gone; `notify` tells the form's
  // component that nothing was shown.
  void Finish(bool notify);
  void ReleaseInput();

  QPointer<QWidget> form_;
  Answers answers_;
  QPointer<QWidget> previous_active_;
  bool ended_ = false;
  bool cursor_set_ = false;
  bool filtering_ = false;
  bool finished_ = false;
};
