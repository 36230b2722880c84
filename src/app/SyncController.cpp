#include "app/SyncController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLineEdit>
#include <QProgressDialog>

#include "dialogs/SyncSettings.h"
#include "platform/UserMessages.h"
#include "sync/CalDavClient.h"
#include "sync/PasswordStore.h"

namespace {

const QString kCaption = QStringLiteral("Synchronize");

QString AskWithDialog(QWidget* window, const SyncPreferences& prefs, bool* ok) {
  QInputDialog dialog(window);
  dialog.setObjectName(QStringLiteral("SyncPassword"));
  dialog.setWindowTitle(kCaption);
  dialog.setLabelText(QStringLiteral("Password of %1 on %2:").arg(prefs.user, prefs.server));
  dialog.setTextEchoMode(QLineEdit::Password);
  *ok = dialog.exec() == QDialog::Accepted;
  return *ok ? dialog.textValue() : QString();
}

// The collections of the server that can hold tasks, for the settings dialog.
QString ListTaskCollections(const QString& server, const QString& user, const QString& password,
                            std::vector<SyncCollectionChoice>* out) {
  CalDavClient client{QUrl(server), user, password};
  client.SetTimeoutMs(30000);
  std::vector<CalDavCollection> found;
  const DavError error = client.Discover(&found);
  if (!error.ok()) return error.message;
  for (const CalDavCollection& c : found)
    if (c.HoldsTasks()) out->push_back({CalDavClient::CanonicalHref(c.href), c.displayName});
  return QString();
}

}  // namespace

SyncController::SyncController(QWidget* window, Hooks hooks) : QObject(window), window_(window), hooks_(std::move(hooks)) {
  AskPassword = [this](const SyncPreferences& prefs, bool* ok) { return AskWithDialog(window_, prefs, ok); };
  connect(&timer_, &QTimer::timeout, this, [this] { Run(true); });
  ApplySchedule();
}

void SyncController::ApplySchedule() {
  const SyncPreferences prefs = SyncPreferences::Load();
  if (prefs.every && prefs.Configured())
    timer_.start(prefs.minutes * 60 * 1000);
  else
    timer_.stop();
}

bool SyncController::EditSettings() {
  SyncPreferences prefs = SyncPreferences::Load();
  QString password;
  PasswordStore::Outcome keyring = PasswordStore::Outcome::NotFound;
  if (prefs.Configured()) keyring = PasswordStore::Read(prefs.PasswordKey(), &password);
  else {
    QString probe;
    keyring = PasswordStore::Read(QStringLiteral("probe"), &probe);
  }
  SyncSettings dialog(window_, ListTaskCollections, keyring != PasswordStore::Outcome::NoKeyring);
  dialog.SetPreferences(prefs, password);
  if (dialog.exec() != QDialog::Accepted) return false;
  const SyncPreferences chosen = dialog.Preferences();
  if (!chosen.Save()) return false;
  if (chosen.PasswordKey() != prefs.PasswordKey() && prefs.Configured()) PasswordStore::Remove(prefs.PasswordKey());
  if (dialog.RememberPassword() && !dialog.Password().isEmpty()) {
    PasswordStore::Write(chosen.PasswordKey(), dialog.Password());
  } else {
    PasswordStore::Remove(chosen.PasswordKey());
    typed_ = dialog.Password();
  }
  ApplySchedule();
  return true;
}

QString SyncController::PasswordFor(const SyncPreferences& prefs, bool fromTimer, bool* ok) {
  *ok = true;
  QString password;
  if (PasswordStore::Read(prefs.PasswordKey(), &password) == PasswordStore::Outcome::Done) return password;
  // Without a keyring the password is asked at each sync; the timer cannot ask, so it uses
  // the one typed last in this run of the program, or waits for one.
  if (fromTimer) {
    *ok = !typed_.isEmpty();
    return typed_;
  }
  password = AskPassword(prefs, ok);
  if (*ok) typed_ = password;
  return password;
}

void SyncController::Run(bool fromTimer) {
  if (running_) return;
  // The timer waits while a dialog is open: the sync must not change the table under it.
  if (fromTimer && QApplication::activeModalWidget()) return;
  SyncPreferences prefs = SyncPreferences::Load();
  if (!prefs.Configured()) {
    if (fromTimer || !EditSettings()) return;
    prefs = SyncPreferences::Load();
  }
  bool ok = false;
  const QString password = PasswordFor(prefs, fromTimer, &ok);
  if (!ok) return;

  running_ = true;
  if (hooks_.before) hooks_.before();
  CalDavClient client{QUrl(prefs.server), prefs.user, password};
  SyncEngine engine(hooks_.taskTable(), &client, prefs.collection);
  QProgressDialog progress(QStringLiteral("Synchronizing..."), QStringLiteral("Cancel"), 0, 0, window_);
  progress.setObjectName(QStringLiteral("SyncProgress"));
  progress.setWindowTitle(kCaption);
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(700);
  client.SetCancelCheck([&progress] { return progress.wasCanceled(); });
  QElapsedTimer sinceEvents;
  sinceEvents.start();
  engine.SetProgress([&](const QString& step, int done, int total) {
    // The window stays responsive (and Cancel reachable) without redrawing for every task.
    if (sinceEvents.elapsed() >= 30 || done == 0) {
      progress.setLabelText(total > 0 ? QStringLiteral("%1: %2 of %3").arg(step).arg(done).arg(total) : step + QStringLiteral("..."));
      progress.setMaximum(total);
      progress.setValue(total > 0 ? done : 0);
      QCoreApplication::processEvents();
      sinceEvents.restart();
    }
    return !progress.wasCanceled();
  });
  last_ = engine.Run();
  progress.reset();
  running_ = false;
  if (hooks_.after) hooks_.after();
  // A wrong password is not tried again by the timer.
  if (!last_.ok && last_.error.contains(QLatin1String("user name or password"))) typed_.clear();
  if (!fromTimer || !last_.ok || last_.conflicts > 0 || !last_.skipped.isEmpty())
    UserMessages::Current().Information(kCaption, last_.Message());
}
