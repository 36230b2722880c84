#pragma once

#include <QTextBrowser>

// The program's help: one window showing the topic of a help context number. The topics are
// HTML pages in the program's resources (":/help/topic<context>.html"), linked to each other.
class HelpWindow : public QTextBrowser {
  Q_OBJECT

 public:
  // The contexts that have a topic; any other opens the main window's topic.
  static constexpr int kMainWindow = 1009;
  static constexpr int kTaskEditor = 1004;  // also the date selector
  static constexpr int kFilterDialog = 1018;
  static constexpr int kSetTimeDialog = 2986;
  static constexpr int kReportDialog = 1007;
  static constexpr int kPreviewWindow = 1017;

  // Opens (creating it on first use) the help window at the topic of `context`, brings it to
  // the front and returns it.
  static HelpWindow* ShowHelpContext(int context);
  // F1 on `form` (and on any of its controls) opens the topic of `context`.
  static void InstallHelpKey(QWidget* form, int context);
  // The window, or nullptr before the first ShowHelpContext.
  static HelpWindow* Instance();
  // The resource of a context's topic, with the fall-back to the main topic.
  static QString TopicPath(int context);
  // The context whose topic is on show (after link navigation, the page's own context).
  int CurrentContext() const { return current_context_; }

 private:
  HelpWindow();
  void ShowTopic(int context);

  int current_context_ = 0;
};
