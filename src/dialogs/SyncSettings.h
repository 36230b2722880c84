#pragma once

#include <QDialog>

#include <functional>
#include <vector>

#include "store/SyncPreferences.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// A task collection the server offers, as the settings dialog lists it.
struct SyncCollectionChoice {
  QString href;
  QString name;
};

// The sync settings: server address, user name, password (kept in the keyring when there is
// one), the task collection chosen from those the server lists, and the sync every N minutes.
// The dialog does not talk to the server itself: the caller hands it a lister.
class SyncSettings : public QDialog {
  Q_OBJECT
 public:
  // Fills the list with the server's task collections; returns an empty text, or why it could
  // not.
  using Lister = std::function<QString(const QString& server, const QString& user, const QString& password,
                                       std::vector<SyncCollectionChoice>* collections)>;

  SyncSettings(QWidget* parent, Lister lister, bool keyringAvailable);

  void SetPreferences(const SyncPreferences& prefs, const QString& password);
  SyncPreferences Preferences() const;
  QString Password() const;
  bool RememberPassword() const;

  // Asks the server for its collections (the List button).
  void ListCollections();

  QLineEdit* ServerEdit = nullptr;
  QLineEdit* UserEdit = nullptr;
  QLineEdit* PasswordEdit = nullptr;
  QCheckBox* RememberCheck = nullptr;
  QComboBox* CollectionBox = nullptr;
  QPushButton* ListButton = nullptr;
  QLabel* ListStatus = nullptr;
  QCheckBox* EveryCheck = nullptr;
  QSpinBox* MinutesSpin = nullptr;
  QPushButton* OKButton = nullptr;
  QPushButton* CancelButton = nullptr;

 private:
  void OkClick();

  Lister lister_;
};
