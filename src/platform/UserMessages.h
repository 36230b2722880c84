#pragma once

#include <QString>

// The message boxes the program shows (information with OK, question with Yes and No) go
// through this one interface, so that tests can answer them instead of a person: a test that
// reached a real modal box would hang. The program uses the Qt implementation; tests install
// their own with Install() and read what was shown.
class UserMessages {
 public:
  virtual ~UserMessages() = default;

  // An information box with an OK button and the information icon.
  virtual void Information(const QString& caption, const QString& text) = 0;
  // A question box with Yes and No; true on Yes.
  virtual bool YesNo(const QString& caption, const QString& text) = 0;

  // The two boxes every part of the program shows, through the implementation in force: an
  // information box captioned "Information" (any busy cursor is taken away first: the user
  // must see that the program waits for them), and a question captioned "Listwise", true for
  // Yes.
  static void ShowInformation(const QString& message);
  static bool AskYesNo(const QString& question);

  // The implementation in force; the message box one unless a test installed another.
  static UserMessages& Current();
  // Puts `messages` in force (nullptr restores the message boxes). Not owned.
  static void Install(UserMessages* messages);
};
