// The sync as people use it from the window: the settings dialog asks the real server for its
// task collections and keeps the settings (never the password) in the settings file; File,
// Synchronize brings the server's tasks into the grid, sends ours, and tells the result; a wrong
// password is told and changes nothing. With LISTWISE_SYNC_SCREENSHOTS=DIR the dialog and a
// result message are saved there as pictures.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include "../app/MainScreenFixture.h"
#include "TestServer.h"
#include "app/SyncController.h"
#include "dialogs/SyncSettings.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"
#include "store/SyncPreferences.h"
#include "sync/CalDavClient.h"
#include "sync/PasswordStore.h"

namespace {

void Screenshot(QWidget& widget, const QString& name) {
  const QString dir = qEnvironmentVariable("LISTWISE_SYNC_SCREENSHOTS");
  if (dir.isEmpty()) return;
  widget.grab().save(dir + QLatin1Char('/') + name);
}

QByteArray Todo(const QString& uid, const QString& summary) {
  return QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//phone//EN\r\nBEGIN:VTODO\r\nUID:%1\r\n"
                        "DTSTAMP:20260101T000000Z\r\nSUMMARY:%2\r\nPRIORITY:1\r\nDUE;VALUE=DATE:20280229\r\n"
                        "END:VTODO\r\nEND:VCALENDAR\r\n")
      .arg(uid, summary)
      .toUtf8();
}

}  // namespace

class SyncWindowTest : public QObject {
  Q_OBJECT
  TestServer server_;
  RecordedMessages messages_;
  std::unique_ptr<QTemporaryDir> dir_;

  QString ReadSettingsFile() {
    QFile f(StoreHelpers::SettingsFileName());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }

 private slots:
  void initTestCase() {
    server_ = TestServer::FromFixture();
    QVERIFY2(server_.Running(), "the calendar server fixture is not running");
    // No keyring in the test run: the password is asked for, as on a machine without one.
    qputenv("LISTWISE_NO_KEYRING", "1");
  }
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    StoreHelpers::SetDataDirectory(dir_->path());
    messages_.shown.clear();
    UserMessages::Install(&messages_);
  }
  void cleanup() {
    UserMessages::Install(nullptr);
    StoreHelpers::SetDataDirectory(QString());
  }

  void settingsDialogListsTheServersCollections() {
    const QString mine = server_.NewCollection(QStringLiteral("Phone tasks"));
    auto w = OpenMainScreen({}, dir_->path(), "[Reindex]\nNeeded=0\n");
    QVERIFY(w);
    QStringList listed;
    QString wrongPasswordText;
    WhenModal<SyncSettings>([&](SyncSettings& d) {
      QVERIFY(!d.RememberCheck->isEnabled());  // no keyring here
      d.OKButton->click();                     // nothing filled in: refused, said why
      QVERIFY(d.isVisible());
      QVERIFY(!d.ListStatus->text().isEmpty());
      d.ServerEdit->setText(server_.url.toString());
      d.UserEdit->setText(server_.user);
      d.PasswordEdit->setText(QStringLiteral("wrong"));
      d.ListButton->click();
      wrongPasswordText = d.ListStatus->text();
      d.PasswordEdit->setText(server_.password);
      d.ListButton->click();
      for (int i = 0; i < d.CollectionBox->count(); ++i) listed << d.CollectionBox->itemText(i);
      d.CollectionBox->setCurrentIndex(d.CollectionBox->findData(CalDavClient::CanonicalHref(mine)));
      d.EveryCheck->setChecked(true);
      d.MinutesSpin->setValue(20);
      d.show();
      Screenshot(d, QStringLiteral("sync-settings.png"));
      d.OKButton->click();
    });
    QVERIFY(Control<SyncController>(*w, "SyncController")->EditSettings());
    QVERIFY2(wrongPasswordText.contains(QLatin1String("user name or password")), qPrintable(wrongPasswordText));
    QVERIFY(listed.contains(QStringLiteral("Tasks")));
    QVERIFY(listed.contains(QStringLiteral("Phone tasks")));

    const SyncPreferences saved = SyncPreferences::Load();
    QCOMPARE(saved.server, server_.url.toString());
    QCOMPARE(saved.user, server_.user);
    QCOMPARE(saved.collection, CalDavClient::CanonicalHref(mine));
    QCOMPARE(saved.collectionName, QStringLiteral("Phone tasks"));
    QVERIFY(saved.every);
    QCOMPARE(saved.minutes, 20);
    QCOMPARE(Control<SyncController>(*w, "SyncController")->ScheduledMinutes(), 20);  // the timer follows the settings at once
    const QString file = ReadSettingsFile();
    QVERIFY(file.contains(QLatin1String("[Sync]")));
    QVERIFY(!file.contains(server_.password));
  }

  // Without a desktop session there is no keyring: the password is kept nowhere (not in a file
  // of the keyring library's either), so the program asks for it.
  void noKeyringKeepsNothing() {
    qunsetenv("LISTWISE_NO_KEYRING");
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QString password;
    const PasswordStore::Outcome wrote = PasswordStore::Write(QStringLiteral("test@nowhere"), QStringLiteral("secret"));
    const PasswordStore::Outcome read = PasswordStore::Read(QStringLiteral("test@nowhere"), &password);
    if (!bus.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    qputenv("LISTWISE_NO_KEYRING", "1");
    QCOMPARE(wrote, PasswordStore::Outcome::NoKeyring);
    QCOMPARE(read, PasswordStore::Outcome::NoKeyring);
    QVERIFY(password.isEmpty());
  }

  void synchronizeFromTheMenu() {
    const QString col = server_.NewCollection(QStringLiteral("Menu"));
    CalDavClient phone(server_.url, server_.user, server_.password);
    QString etag;
    QVERIFY(phone.Put(CalDavClient::MemberHref(col, "phone-1.ics"), Todo("phone-1", "Written on the phone"), {}, &etag).ok());
    auto w = OpenMainScreen({{"20280301", "", "Written here", false, "home", "B", "a note"}}, dir_->path(),
                            "[Reindex]\nNeeded=0\n");
    QVERIFY(w);
    SyncPreferences prefs;
    prefs.server = server_.url.toString();
    prefs.user = server_.user;
    prefs.collection = col;
    QVERIFY(prefs.Save());
    Control<SyncController>(*w, "SyncController")->ApplySchedule();
    QCOMPARE(Control<SyncController>(*w, "SyncController")->ScheduledMinutes(), 0);  // not asked for
    int asked = 0;
    QString password = server_.password;
    Control<SyncController>(*w, "SyncController")->AskPassword = [&](const SyncPreferences&, bool* ok) {
      ++asked;
      *ok = true;
      return password;
    };
    QAction* synchronize = w->findChild<QAction*>(QStringLiteral("Synchronize1"));
    QVERIFY(synchronize);
    synchronize->trigger();
    QCOMPARE(asked, 1);
    QCOMPARE(messages_.shown.size(), 1);
    QVERIFY2(messages_.shown[0].contains(QLatin1String("1 new task received")), qPrintable(messages_.shown[0]));
    QVERIFY(messages_.shown[0].contains(QLatin1String("1 new task sent")));
    QVERIFY(GridRowOf(*w, QStringLiteral("Written on the phone")) >= 0);
    QVERIFY(GridRowOf(*w, QStringLiteral("Written here")) >= 0);

    // Changed on both sides: both kept, and the message says so.
    const int row = GridRowOf(*w, QStringLiteral("Written on the phone"));
    Control<QTableView>(*w, "ActiveGrid")->setCurrentIndex(Grid(*w)->index(row, 3));
    w->Store().TasqTable.Edit();
    w->Store().TasqTable.FieldByName(QStringLiteral("NOTE"))->SetAsString(QStringLiteral("edited here"));
    w->Store().TasqTable.Post();
    DavItem there;
    QVERIFY(phone.Get(CalDavClient::MemberHref(col, "phone-1.ics"), &there).ok());
    QVERIFY(phone.Put(there.href, Todo("phone-1", "Written on the phone (edited there)"), there.etag, &etag).ok());
    synchronize->trigger();
    QCOMPARE(asked, 2);  // asked at each sync where no keyring keeps it
    QCOMPARE(messages_.shown.size(), 2);
    const QString result = messages_.shown[1];
    QVERIFY2(result.contains(QLatin1String("conflict")), qPrintable(result));
    QVERIFY(GridRowOf(*w, QStringLiteral("Written on the phone")) >= 0);
    QVERIFY(GridRowOf(*w, QStringLiteral("Written on the phone (edited there)")) >= 0);
    {
      QMessageBox box(QMessageBox::Information, QStringLiteral("Synchronize"), result, QMessageBox::Ok, w.get());
      box.show();
      Screenshot(box, QStringLiteral("sync-result.png"));
    }

    // A wrong password: told, and the grid is as it was.
    const int rows = Grid(*w)->rowCount();
    password = QStringLiteral("wrong");
    synchronize->trigger();
    QCOMPARE(messages_.shown.size(), 3);
    QVERIFY(messages_.shown[2].contains(QLatin1String("did not accept the user name or password")));
    QCOMPARE(Grid(*w)->rowCount(), rows);
    QVERIFY(!ReadSettingsFile().contains(server_.password));
  }
};

QTEST_MAIN(SyncWindowTest)
#include "SyncWindowTest.moc"
