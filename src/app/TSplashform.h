#pragma once

#include <QDialog>

// The About box.
class TSplashform : public QDialog {
  Q_OBJECT
 public:
  explicit TSplashform(QWidget* parent = nullptr);

  // "64-bit version for Linux": the word size and system of this build.
  static QString BuildLine();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormCreate();
  class QLabel* platformLine_ = nullptr;
};
