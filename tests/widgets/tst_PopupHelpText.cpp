// The help list and its "HelpData" bytes: layout, exact round trips, deep copies and the
// refusal of damaged data without touching the list.

#include <QtTest>

#include "widgets/TPopupHelpText.h"

namespace {

std::unique_ptr<TPopupHelpData> Record(const QByteArray* text, quint32 context = 0,
                                       quint16 word = 0, quint8 byte = 1) {
  auto data = std::make_unique<TPopupHelpData>();
  if (text) data->SetRawText(*text);
  data->SetHelpContext(context);
  data->SetReservedWord(word);
  data->SetReservedByte(byte);
  return data;
}

// Every kind of entry: no record, a record without text, an empty text, plain text, 8-bit text
// and odd reserved values.
TPopupHelpText MixedList() {
  TPopupHelpText list;
  const QByteArray empty;
  const QByteArray plain("Click here to save changes");
  const QByteArray high("Caf\xe9 \x80 \x93quoted\x94\r\nline two");
  list.Add(QStringLiteral("Label1"));
  list.Add(QStringLiteral("PriorityPanel"), Record(nullptr));
  list.Add(QStringLiteral("Blank"), Record(&empty));
  list.Add(QStringLiteral("OKButton"), Record(&plain));
  list.Add(QStringLiteral("Notes"), Record(&high, 0x01020304u, 0xBEEF, 0x7F));
  return list;
}

TPopupHelpText NamesOnly(const TPopupHelpText& list) {
  TPopupHelpText names;
  for (const QString& name : list.Names()) names.Add(name);
  return names;
}

}  // namespace

class PopupHelpTextTest : public QObject {
  Q_OBJECT

 private slots:
  void BytesFollowTheLayout() {
    TPopupHelpText list;
    const QByteArray ab("AB");
    list.Add(QStringLiteral("None"));
    list.Add(QStringLiteral("Some"), Record(&ab, 0x11223344u, 0x0102, 1));
    list.Add(QStringLiteral("NoText"), Record(nullptr));
    const QByteArray expected = QByteArray::fromHex(
        "0300"  // count 3
        "00"    // None: not present
        "01"
        "0201"  // Some: present, reserved word 0x0102
        "0300"
        "414200"    // text length 3 (with the zero), "AB", zero
        "01"        // reserved byte
        "44332211"  // help context
        "01"
        "0000"
        "0000"
        "01"
        "00000000");  // NoText: no text bytes at all
    QCOMPARE(list.WriteHelpData(), expected);
  }

  void RoundTripIsExact() {
    const TPopupHelpText original = MixedList();
    const QByteArray bytes = original.WriteHelpData();
    TPopupHelpText read = NamesOnly(original);
    QString error;
    QVERIFY2(read.ReadHelpData(bytes, &error), qPrintable(error));
    QCOMPARE(read.WriteHelpData(), bytes);

    QCOMPARE(read.Data(0), nullptr);
    QVERIFY(read.Data(1) && !read.Data(1)->HasTextField());
    QVERIFY(read.Data(2)->HasTextField() && !read.Data(2)->HasText());
    QCOMPARE(read.Data(3)->Text(), QStringLiteral("Click here to save changes"));
    const TPopupHelpData* notes = read.Data(4);
    QCOMPARE(notes->HelpContext(), 0x01020304u);
    QCOMPARE(notes->ReservedWord(), quint16(0xBEEF));
    QCOMPARE(notes->ReservedByte(), quint8(0x7F));
    QCOMPARE(notes->Text(), QStringLiteral("Caf\u00e9 \u20ac \u201cquoted\u201d\r\nline two"));
  }

  void DamagedDataIsRefusedAndTheListKept() {
    const TPopupHelpText original = MixedList();
    const QByteArray bytes = original.WriteHelpData();
    // Every cut short version fails cleanly.
    for (qsizetype size = 0; size < bytes.size(); ++size) {
      TPopupHelpText list = original;
      QString error;
      QVERIFY2(!list.ReadHelpData(bytes.left(size), &error), qPrintable(QString::number(size)));
      QVERIFY(!error.isEmpty());
      QCOMPARE(list.WriteHelpData(), bytes);
    }
    TPopupHelpText list = original;
    QString error;
    QVERIFY(!list.ReadHelpData(bytes + '\0', &error));
    QVERIFY(error.contains(QStringLiteral("left")));

    // A count that does not match the names.
    TPopupHelpText fewer;
    fewer.Add(QStringLiteral("Only"));
    QVERIFY(!fewer.ReadHelpData(bytes, &error));
    QVERIFY(error.contains(QStringLiteral("5 entries for 1 names")));

    // A text without its closing zero, and a presence mark that is neither 0 nor 1.
    TPopupHelpText one;
    one.Add(QStringLiteral("X"));
    QVERIFY(!one.ReadHelpData(QByteArray::fromHex("0100"
                                                  "01"
                                                  "0000"
                                                  "0200"
                                                  "4142"
                                                  "01"
                                                  "00000000"),
                              &error));
    QVERIFY(error.contains(QStringLiteral("closing zero")));
    QVERIFY(!one.ReadHelpData(QByteArray::fromHex("0100"
                                                  "07"),
                              &error));
    QCOMPARE(one.Data(0), nullptr);
  }

  void CopiesOwnTheirRecords() {
    TPopupHelpText original = MixedList();
    TPopupHelpText copy = original;
    copy.Data(3)->SetText(QStringLiteral("changed"));
    QCOMPARE(original.Data(3)->Text(), QStringLiteral("Click here to save changes"));
    TPopupHelpText assigned;
    assigned = original;
    QCOMPARE(assigned.WriteHelpData(), original.WriteHelpData());
    QVERIFY(assigned.Data(4) != original.Data(4));
  }

  void LookupPassesOverEntriesWithoutText() {
    TPopupHelpText list;
    list.Add(QStringLiteral("Task"), Record(nullptr));
    list.AddHelp(QStringLiteral("task"), QStringLiteral("lower case is another name"));
    list.AddHelp(QStringLiteral("Task"), QStringLiteral("Enter a description"));
    QCOMPARE(list.FindText(QStringLiteral("Task"))->Text(), QStringLiteral("Enter a description"));
    QCOMPARE(list.FindText(QStringLiteral("TASK")), nullptr);
  }

  void TextsThatCannotBeStoredAreRefused() {
    TPopupHelpText list;
    QVERIFY(!list.AddHelp(QStringLiteral("A"), QStringLiteral("snow \u2603")));
    QVERIFY(!list.AddHelp(QStringLiteral("B"), QString(TPopupHelpData::kMaxTextBytes + 1, u'x')));
    QCOMPARE(list.Count(), 0);
    QVERIFY(list.AddHelp(QStringLiteral("C"), QString(TPopupHelpData::kMaxTextBytes, u'x')));
    TPopupHelpText read = NamesOnly(list);
    QVERIFY(read.ReadHelpData(list.WriteHelpData()));
    QCOMPARE(read.Data(0)->Text().size(), TPopupHelpData::kMaxTextBytes);
  }
};

QTEST_GUILESS_MAIN(PopupHelpTextTest)
#include "tst_PopupHelpText.moc"
