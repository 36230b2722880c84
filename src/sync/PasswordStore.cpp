#include "sync/PasswordStore.h"

#include <QEventLoop>

#include <qt6keychain/keychain.h>

namespace {

const QString kService = QStringLiteral("Listwise task sync");
bool g_disabled = false;

PasswordStore::Outcome Finish(QKeychain::Job& job, QString* why) {
  job.setAutoDelete(false);
  // The keyring is never asked to keep the password in a file of its own when it is missing.
  job.setInsecureFallback(false);
  QEventLoop loop;
  QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
  job.start();
  loop.exec();
  if (why) *why = job.errorString();
  switch (job.error()) {
    case QKeychain::NoError:
      return PasswordStore::Outcome::Done;
    case QKeychain::EntryNotFound:
      return PasswordStore::Outcome::NotFound;
    default:
      return PasswordStore::Outcome::NoKeyring;
  }
}

}  // namespace

void PasswordStore::SetDisabled(bool off) { g_disabled = off; }

PasswordStore::Outcome PasswordStore::Read(const QString& key, QString* password, QString* why) {
  password->clear();
  if (g_disabled || qEnvironmentVariableIsSet("LISTWISE_NO_KEYRING")) return Outcome::NoKeyring;
  QKeychain::ReadPasswordJob job(kService);
  job.setKey(key);
  const Outcome outcome = Finish(job, why);
  if (outcome == Outcome::Done) *password = job.textData();
  return outcome;
}

PasswordStore::Outcome PasswordStore::Write(const QString& key, const QString& password, QString* why) {
  if (g_disabled || qEnvironmentVariableIsSet("LISTWISE_NO_KEYRING")) return Outcome::NoKeyring;
  QKeychain::WritePasswordJob job(kService);
  job.setKey(key);
  job.setTextData(password);
  return Finish(job, why);
}

PasswordStore::Outcome PasswordStore::Remove(const QString& key, QString* why) {
  if (g_disabled || qEnvironmentVariableIsSet("LISTWISE_NO_KEYRING")) return Outcome::NoKeyring;
  QKeychain::DeletePasswordJob job(kService);
  job.setKey(key);
  return Finish(job, why);
}
