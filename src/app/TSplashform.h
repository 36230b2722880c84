#pragma once

#include <QDialog>

// The About box.
class TSplashform : public QDialog {
  Q_OBJECT
 public:
  explicit TSplashform(QWidget* parent = nullptr);

 private:
  void FormCreate();
  class QLabel* platformLine_ = nullptr;
};
