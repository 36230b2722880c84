#pragma once

#include <QStringList>

#include "platform/UserMessages.h"

// Answers the program's message boxes in tests and keeps what they said; installs itself for its
// lifetime so that no test reaches a real modal box.
class RecordingMessages final : public UserMessages {
 public:
  RecordingMessages() { UserMessages::Install(this); }
  ~RecordingMessages() override { UserMessages::Install(nullptr); }

  void Information(const QString& caption, const QString& text) override {
    captions.append(caption);
    shown.append(text);
  }
  bool YesNo(const QString& caption, const QString& text) override {
    captions.append(caption);
    shown.append(text);
    return answer;
  }

  QStringList captions;
  QStringList shown;
  bool answer = true;
};
