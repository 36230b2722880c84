#include "dialogs/SyncSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

SyncSettings::SyncSettings(QWidget* parent, Lister lister, bool keyringAvailable)
    : QDialog(parent), lister_(std::move(lister)) {
  setObjectName(QStringLiteral("SyncSettings"));
  setWindowTitle(QStringLiteral("Sync Settings"));

  ServerEdit = new QLineEdit(this);
  ServerEdit->setObjectName(QStringLiteral("ServerEdit"));
  ServerEdit->setPlaceholderText(QStringLiteral("https://calendar.example.org/"));
  UserEdit = new QLineEdit(this);
  UserEdit->setObjectName(QStringLiteral("UserEdit"));
  PasswordEdit = new QLineEdit(this);
  PasswordEdit->setObjectName(QStringLiteral("PasswordEdit"));
  PasswordEdit->setEchoMode(QLineEdit::Password);
  RememberCheck = new QCheckBox(QStringLiteral("Keep the password in the desktop's keyring"), this);
  RememberCheck->setObjectName(QStringLiteral("RememberCheck"));
  RememberCheck->setChecked(keyringAvailable);
  RememberCheck->setEnabled(keyringAvailable);
  if (!keyringAvailable)
    RememberCheck->setToolTip(QStringLiteral("No keyring runs here: the password is asked for at each sync."));

  CollectionBox = new QComboBox(this);
  CollectionBox->setObjectName(QStringLiteral("CollectionBox"));
  CollectionBox->setMinimumContentsLength(24);
  ListButton = new QPushButton(QStringLiteral("&List"), this);
  ListButton->setObjectName(QStringLiteral("ListButton"));
  ListButton->setToolTip(QStringLiteral("Ask the server for its task collections"));
  auto* collectionRow = new QHBoxLayout;
  collectionRow->addWidget(CollectionBox, 1);
  collectionRow->addWidget(ListButton);
  ListStatus = new QLabel(this);
  ListStatus->setObjectName(QStringLiteral("ListStatus"));
  ListStatus->setWordWrap(true);

  EveryCheck = new QCheckBox(QStringLiteral("Sync every"), this);
  EveryCheck->setObjectName(QStringLiteral("EveryCheck"));
  MinutesSpin = new QSpinBox(this);
  MinutesSpin->setObjectName(QStringLiteral("MinutesSpin"));
  MinutesSpin->setRange(1, 1440);
  MinutesSpin->setSuffix(QStringLiteral(" minutes"));
  auto* everyRow = new QHBoxLayout;
  everyRow->addWidget(EveryCheck);
  everyRow->addWidget(MinutesSpin);
  everyRow->addWidget(new QLabel(QStringLiteral("while the program runs"), this));
  everyRow->addStretch(1);
  connect(EveryCheck, &QCheckBox::toggled, MinutesSpin, &QWidget::setEnabled);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("&Server address:"), ServerEdit);
  form->addRow(QStringLiteral("&User name:"), UserEdit);
  form->addRow(QStringLiteral("&Password:"), PasswordEdit);
  form->addRow(QString(), RememberCheck);
  auto* collectionLabel = new QLabel(QStringLiteral("&Task collection:"), this);
  collectionLabel->setBuddy(CollectionBox);
  form->addRow(collectionLabel, collectionRow);
  form->addRow(QString(), ListStatus);
  form->addRow(QString(), everyRow);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(OKButton);
  buttons->addWidget(CancelButton);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);

  connect(ListButton, &QPushButton::clicked, this, &SyncSettings::ListCollections);
  connect(OKButton, &QPushButton::clicked, this, &SyncSettings::OkClick);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  SetPreferences(SyncPreferences(), QString());
}

void SyncSettings::SetPreferences(const SyncPreferences& prefs, const QString& password) {
  ServerEdit->setText(prefs.server);
  UserEdit->setText(prefs.user);
  PasswordEdit->setText(password);
  CollectionBox->clear();
  if (!prefs.collection.isEmpty())
    CollectionBox->addItem(prefs.collectionName.isEmpty() ? prefs.collection : prefs.collectionName,
                           prefs.collection);
  EveryCheck->setChecked(prefs.every);
  MinutesSpin->setValue(prefs.minutes);
  MinutesSpin->setEnabled(prefs.every);
}

SyncPreferences SyncSettings::Preferences() const {
  SyncPreferences prefs;
  prefs.server = ServerEdit->text().trimmed();
  prefs.user = UserEdit->text().trimmed();
  prefs.collection = CollectionBox->currentData().toString();
  prefs.collectionName = prefs.collection.isEmpty() ? QString() : CollectionBox->currentText();
  prefs.every = EveryCheck->isChecked();
  prefs.minutes = MinutesSpin->value();
  return prefs;
}

QString SyncSettings::Password() const { return PasswordEdit->text(); }
bool SyncSettings::RememberPassword() const { return RememberCheck->isEnabled() && RememberCheck->isChecked(); }

void SyncSettings::ListCollections() {
  const SyncPreferences prefs = Preferences();
  const QUrl url(prefs.server);
  if (!url.isValid() || url.host().isEmpty() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
    ListStatus->setText(QStringLiteral("Type the server's address first, starting with https:// (or http://)."));
    return;
  }
  if (prefs.user.isEmpty()) {
    ListStatus->setText(QStringLiteral("Type your user name first."));
    return;
  }
  ListStatus->setText(QStringLiteral("Asking the server..."));
  ListButton->setEnabled(false);
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  std::vector<SyncCollectionChoice> found;
  const QString error = lister_ ? lister_(prefs.server, prefs.user, Password(), &found) : QString();
  QGuiApplication::restoreOverrideCursor();
  ListButton->setEnabled(true);
  if (!error.isEmpty()) {
    ListStatus->setText(error);
    return;
  }
  const QString chosen = prefs.collection;
  CollectionBox->clear();
  for (const SyncCollectionChoice& c : found) CollectionBox->addItem(c.name.isEmpty() ? c.href : c.name, c.href);
  const int again = CollectionBox->findData(chosen);
  if (again >= 0) CollectionBox->setCurrentIndex(again);
  ListStatus->setText(found.empty() ? QStringLiteral("The server lists no task collection for this user.")
                                    : QStringLiteral("The server lists %1 task collection(s): choose one.").arg(found.size()));
}

void SyncSettings::OkClick() {
  const SyncPreferences prefs = Preferences();
  if (prefs.server.isEmpty() || prefs.user.isEmpty()) {
    ListStatus->setText(QStringLiteral("The server address and the user name are needed."));
    return;
  }
  if (prefs.collection.isEmpty()) {
    ListStatus->setText(QStringLiteral("Choose a task collection: press List to see the server's."));
    return;
  }
  accept();
}
