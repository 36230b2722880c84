// The settings file reader and writer: the private-profile reading rules, the integer and logical
// forms, writes that keep everything else in the file, and writes that cannot be made.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <limits>

#include "RecordingMessages.h"
#include "store/IniFile.h"

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(bytes), bytes.size());
}

}  // namespace

class IniFileTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(dir_.isValid());
    path_ = dir_.filePath("TEST.INI");
    QFile::remove(path_);
  }

  // clang-format off
  void ReadingRules_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");  // "<default>" when the key counts as missing
    const QByteArray sample =
        "Orphan=before any section\n"
        "; Comment=not a key\n"
        "[Report]\n"
        "ReportTitle=My tasks\n"
        "  HTMLTitle  =  spaced out  \n"
        "RTFTitle=\"quoted\"\n"
        "TextTitle='single'\n"
        "Odd=\"unbalanced\n"
        "Empty=\n"
        "Dup=first\n"
        "Dup=second\n"
        "Eq=a=b\n"
        "[ other ]\n"
        "Key=other value\n"
        "[report]\n"
        "Late=in a repeated section\n";
    QTest::newRow("plain") << sample << "Report" << "ReportTitle" << "My tasks";
    QTest::newRow("section case") << sample << "REPORT" << "ReportTitle" << "My tasks";
    QTest::newRow("key case") << sample << "Report" << "reporttitle" << "My tasks";
    QTest::newRow("blanks around") << sample << "Report" << "HTMLTitle" << "spaced out";
    QTest::newRow("double quotes") << sample << "Report" << "RTFTitle" << "quoted";
    QTest::newRow("single quotes") << sample << "Report" << "TextTitle" << "single";
    QTest::newRow("one quote stays") << sample << "Report" << "Odd" << "\"unbalanced";
    QTest::newRow("empty value") << sample << "Report" << "Empty" << "";
    QTest::newRow("first of two keys") << sample << "Report" << "Dup" << "first";
    QTest::newRow("equals in value") << sample << "Report" << "Eq" << "a=b";
    QTest::newRow("blanks in header") << sample << "Other" << "Key" << "other value";
    QTest::newRow("first of two sections") << sample << "Report" << "Late" << "<default>";
    QTest::newRow("no section") << sample << "" << "Orphan" << "<default>";
    QTest::newRow("comment") << sample << "Report" << "; Comment" << "<default>";
    QTest::newRow("missing key") << sample << "Report" << "Nothing" << "<default>";
    QTest::newRow("missing section") << sample << "Nowhere" << "Key" << "<default>";
    QTest::newRow("CRLF lines") << QByteArray("[A]\r\nK=v\r\n") << "A" << "K" << "v";
    QTest::newRow("no final line end") << QByteArray("[A]\nK=v") << "A" << "K" << "v";
    QTest::newRow("Windows-1252 text") << QByteArray("[A]\nK=caf\xe9\n") << "A" << "K"
                                       << QString::fromUtf8("caf\xc3\xa9");
    QTest::newRow("UTF-8 text") << QByteArray("[A]\nK=caf\xc3\xa9\n") << "A" << "K"
                                << QString::fromUtf8("caf\xc3\xa9");
  }
  // clang-format on
  void ReadingRules() {
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    WriteAll(path_, file);
    QCOMPARE(IniFile(path_).ReadString(section, key, "<default>"), expected);
  }

  void MissingFileReadsAsEmpty() {
    IniFile file(dir_.filePath("nowhere/NONE.INI"));
    QCOMPARE(file.ReadString("A", "K", "dflt"), QString("dflt"));
    QCOMPARE(file.ReadInteger("A", "K", 7), 7);
    QVERIFY(file.ReadBool("A", "K", true));
    QVERIFY(!file.SectionExists("A"));
  }

  // clang-format off
  void IntegerForms_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");  // the default is 200
    QTest::newRow("decimal") << "16" << 16;
    QTest::newRow("hex") << "0x10" << 16;
    QTest::newRow("hex capital X") << "0X1f" << 31;
    QTest::newRow("letters") << "abc" << 200;
    QTest::newRow("trailing junk") << "12abc" << 200;
    QTest::newRow("bare 0x") << "0x" << 200;
    QTest::newRow("bad hex digit") << "0x1g" << 200;
    QTest::newRow("negative") << "-5" << -5;
    QTest::newRow("plus sign") << "+7" << 7;
    QTest::newRow("lone sign") << "-" << 200;
    QTest::newRow("empty") << "" << 200;
    QTest::newRow("blanks around") << "  42  " << 42;
    QTest::newRow("inner blank") << "4 2" << 200;
    QTest::newRow("highest") << "2147483647" << std::numeric_limits<int>::max();
    QTest::newRow("lowest") << "-2147483648" << std::numeric_limits<int>::min();
    QTest::newRow("too high") << "2147483648" << 200;
    QTest::newRow("far too high") << "99999999999999999999999" << 200;
    QTest::newRow("hex too high") << "0x80000000" << 200;
    QTest::newRow("decimal fraction") << "1.5" << 200;
  }
  // clang-format on
  void IntegerForms() {
    QFETCH(QString, text);
    QFETCH(int, expected);
    WriteAll(path_, "[Preferences]\nSplitterBar=" + text.toUtf8() + "\n");
    QCOMPARE(IniFile(path_).ReadInteger("Preferences", "SplitterBar", 200), expected);
  }

  void LogicalForms() {
    WriteAll(path_, "[L]\nOne=1\nZero=0\nTwo=2\nMinus=-1\nHex=0x0\nWord=yes\n");
    IniFile file(path_);
    QVERIFY(file.ReadBool("L", "One", false));
    QVERIFY(!file.ReadBool("L", "Zero", true));
    QVERIFY(file.ReadBool("L", "Two", false));
    QVERIFY(file.ReadBool("L", "Minus", false));
    QVERIFY(!file.ReadBool("L", "Hex", true));
    QVERIFY(file.ReadBool("L", "Word", true));  // not a number: the default
    QVERIFY(!file.ReadBool("L", "Word", false));
    QVERIFY(file.ReadBool("L", "Missing", true));

    QVERIFY(file.WriteBool("L", "One", false));
    QVERIFY(file.WriteBool("L", "New", true));
    QVERIFY(file.WriteInteger("L", "Int", -12));
    const QByteArray bytes = ReadAll(path_);
    QVERIFY(bytes.contains("\nOne=0\n"));
    QVERIFY(bytes.contains("\nNew=1\n"));
    QVERIFY(bytes.contains("\nInt=-12\n"));
  }

  void WriteKeepsEverythingElse() {
    WriteAll(path_,
             "; settings of the program\r\n"
             "[Preferences]\r\n"
             "splitterbar = 150\r\n"
             "Custom=kept\r\n"
             "\r\n"
             "; the next section\r\n"
             "[TMainScreen_Placement]\r\n"
             "Left=10\r\n"
             "Odd line without equals\r\n");
    IniFile file(path_);
    QVERIFY(file.WriteInteger("PREFERENCES", "SplitterBar", 220));
    QVERIFY(file.WriteBool("Preferences", "ShowDone", true));
    QVERIFY(file.WriteBool("Reindex", "Needed", false));
    // Only the written line changes (in the file's own spelling), a new key goes after the last
    // key of its section, a new section at the end, and the file keeps its line ends.
    QCOMPARE(ReadAll(path_), QByteArray("; settings of the program\r\n"
                                        "[Preferences]\r\n"
                                        "splitterbar=220\r\n"
                                        "Custom=kept\r\n"
                                        "ShowDone=1\r\n"
                                        "\r\n"
                                        "; the next section\r\n"
                                        "[TMainScreen_Placement]\r\n"
                                        "Left=10\r\n"
                                        "Odd line without equals\r\n"
                                        "\r\n"
                                        "[Reindex]\r\n"
                                        "Needed=0\r\n"));
    QCOMPARE(file.ReadInteger("Preferences", "SplitterBar", 0), 220);
  }

  void FirstWriteCreatesTheFile() {
    IniFile file(path_);
    QVERIFY(file.WriteString("Report", "HTMLFilespec", ""));
    QVERIFY(file.WriteString("Report", "ReportTitle", "Weekly list"));
    QCOMPARE(ReadAll(path_), QByteArray("[Report]\nHTMLFilespec=\nReportTitle=Weekly list\n"));
    // An empty value is a value, not a missing key.
    QCOMPARE(file.ReadString("Report", "HTMLFilespec", "default"), QString());
  }

  void BytesOfOtherLinesSurvive() {
    // A line in another code page must come back byte for byte, not re-encoded.
    const QByteArray foreign = "Title=Liste f\xfcr heute";
    WriteAll(path_, "[Other]\n" + foreign + "\n");
    IniFile file(path_);
    QVERIFY(file.WriteString("Other", "Added", QString::fromUtf8("gr\xc3\xbc\xc3\x9f")));
    QCOMPARE(ReadAll(path_), "[Other]\n" + foreign + "\nAdded=gr\xc3\xbc\xc3\x9f\n");
    QCOMPARE(file.ReadString("Other", "Added", ""), QString::fromUtf8("gr\xc3\xbc\xc3\x9f"));
  }

  void DeleteKeyRemovesOnlyThatLine() {
    WriteAll(path_, "[A]\nK=1\nL=2\n[B]\nK=3\n");
    IniFile file(path_);
    QVERIFY(file.DeleteKey("a", "k"));
    QCOMPARE(ReadAll(path_), QByteArray("[A]\nL=2\n[B]\nK=3\n"));
  }

  void WritesLeaveNoTemporaryFiles() {
    IniFile file(path_);
    for (int i = 0; i < 5; ++i) QVERIFY(file.WriteInteger("A", QString("K%1").arg(i), i));
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"TEST.INI"});
  }

  void ReadOnlyFileIsNotWritten() {
    RecordingMessages messages;
    const QByteArray before = "[Preferences]\nOrder=2\n";
    WriteAll(path_, before);
    QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    IniFile file(path_);
    QVERIFY(!file.WriteInteger("Preferences", "Order", 3));
    QCOMPARE(messages.shown, QStringList{"Unable to write to " + path_});
    QCOMPARE(ReadAll(path_), before);
    QCOMPARE(file.ReadInteger("Preferences", "Order", 0), 2);
    QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner);
  }

  // clang-format off
  void UnwritablePlacesAreReported_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("missing folder") << dir_.filePath("no/such/folder/TASQ.INI");
    QTest::newRow("a folder") << dir_.path();
  }
  // clang-format on
  void UnwritablePlacesAreReported() {
    QFETCH(QString, path);
    RecordingMessages messages;
    QVERIFY(!IniFile(path).WriteString("A", "K", "v"));
    QCOMPARE(messages.shown, QStringList{"Unable to write to " + path});
    QCOMPARE(messages.captions, QStringList{"Information"});
  }

  // clang-format off
  void TextsThatWouldBreakTheFileAreRefused_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("line break in value") << "A" << "K" << "one\n[Injected]\nK=two";
    QTest::newRow("carriage return in value") << "A" << "K" << "one\rtwo";
    QTest::newRow("equals in key") << "A" << "K=1" << "v";
    QTest::newRow("bracket key") << "A" << "[B]" << "v";
    QTest::newRow("comment key") << "A" << ";K" << "v";
    QTest::newRow("empty key") << "A" << " " << "v";
    QTest::newRow("bracket in section") << "A]x" << "K" << "v";
    QTest::newRow("empty section") << "" << "K" << "v";
  }
  // clang-format on
  void TextsThatWouldBreakTheFileAreRefused() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    RecordingMessages messages;
    const QByteArray before = "[A]\nK=old\n";
    WriteAll(path_, before);
    QVERIFY(!IniFile(path_).WriteString(section, key, value));
    QCOMPARE(messages.shown, QStringList{"Unable to write to " + path_});
    QCOMPARE(ReadAll(path_), before);
  }

  void UpdateWritesSeveralKeysAtOnce() {
    RecordingMessages messages;
    WriteAll(path_, "[A]\nK=1\n");
    IniFile file(path_);
    QVERIFY(file.Update([](IniDocument& doc) {
      return doc.SetValue("A", "K", "2") && doc.SetValue("B", "L", "3");
    }));
    QCOMPARE(ReadAll(path_), QByteArray("[A]\nK=2\n\n[B]\nL=3\n"));
    // A refused change writes none of its keys, not the first half.
    QVERIFY(!file.Update([](IniDocument& doc) {
      return doc.SetValue("A", "K", "9") && doc.SetValue("B", "L", "bad\nvalue");
    }));
    QCOMPARE(ReadAll(path_), QByteArray("[A]\nK=2\n\n[B]\nL=3\n"));
    QCOMPARE(messages.shown.size(), 1);
  }

 private:
  QTemporaryDir dir_;
  QString path_;
};

QTEST_GUILESS_MAIN(IniFileTest)
#include "tst_IniFile.moc"
