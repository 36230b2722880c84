// The cursor layer's own rules: drivers, aliases, field conversions in record images.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "db/CursorLayer.h"
#include "xbengine.h"

namespace {
// Collects what the layer reports for the user.
struct Quiet {
  QStringList shown;
};

bool MakeTable(const QString& path, const std::vector<std::tuple<const char*, const char*, int, int>>& fields) {
  if (xb_CreateNew(QFile::encodeName(path).constData(), "MAKE", 2, int(fields.size())) == 0) return false;
  for (auto& [name, type, width, dec] : fields) xb_CreateField(name, type, width, dec);
  const bool ok = xb_CreateExec() != 0;
  xb_Close(0);
  return ok;
}
}  // namespace

class CursorLayerTest : public QObject {
  Q_OBJECT
 private:
  Quiet quiet_;
  CursorLayer& L = CursorLayer::Instance();
  QTemporaryDir dir_;
  int db_ = 0;

 private slots:
  void initTestCase() {
    CursorLayer::SetReporter([this](const QString& text) { quiet_.shown << text; });
    QCOMPARE(L.Acquire(), 0);
    QCOMPARE(L.OpenDatabase(dir_.path(), &db_), 0);
    QVERIFY(L.DatabasePath(db_).endsWith('/'));
  }
  void cleanupTestCase() {
    L.CloseDatabase(db_);
    L.Release();
    CursorLayer::SetReporter({});
  }

  void driversAndAliases() {
    QCOMPARE(CursorLayer::DriverCode("XBFOX"), 2);
    QCOMPARE(CursorLayer::DriverCode("XBNTX"), 1);
    QCOMPARE(CursorLayer::DriverCode("XAFOX"), 12);
    QCOMPARE(CursorLayer::DriverCode("PARADOX"), 2);
    QCOMPARE(CursorLayer::AliasBase("/x/MY-LIST.DBF"), QString("MY_LIST"));
    QCOMPARE(CursorLayer::AliasBase("VERY LONG~NAME.DBF"), QString("VERY_LON"));

    // Same-named tables from two folders open side by side under different aliases.
    QTemporaryDir other;
    QVERIFY(MakeTable(dir_.filePath("MY-LIST.DBF"), {{"A", "C", 4, 0}}));
    QVERIFY(MakeTable(other.filePath("MY LIST.DBF"), {{"A", "C", 4, 0}}));
    int db2 = 0, c1 = 0, c2 = 0;
    QCOMPARE(L.OpenDatabase(other.path(), &db2), 0);
    QCOMPARE(L.OpenTable(db_, "MY-LIST.DBF", "XBFOX", "", false, false, &c1), 0);
    QCOMPARE(L.OpenTable(db2, "MY LIST.DBF", "", "", false, false, &c2), 0);
    int prev = xb_Select(c1);
    QCOMPARE(QString(xb_Alias()), QString("MY_LIST"));
    xb_Select(c2);
    QCOMPARE(QString(xb_Alias()), QString("MY_LIST_1"));
    xb_Select(prev);
    QCOMPARE(L.DriverOf(c2), 2);  // first byte 0x03/0xF5 without an .XSX file
    L.CloseTable(c1);
    L.CloseTable(c2);
    L.CloseDatabase(db2);

    // A missing table or database slot is a status, never a crash.
    int c = 0;
    QCOMPARE(L.OpenTable(db_, "NOPE.DBF", "XBFOX", "", false, false, &c), int(kCursorOpenError));
    QCOMPARE(L.OpenTable(150, "NOPE.DBF", "XBFOX", "", false, false, &c), int(kCursorOpenError));
    QVERIFY(quiet_.shown.contains("Could not find directory associated with this database"));
    QCOMPARE(L.GetNextRecord(200, false, nullptr, nullptr), int(kCursorNotOpen));
  }

  // The grid reads the shared table row by row and keeps its read lock from one row to the
  // next; another program appending while this one sits in its event loop is not held up,
  // and the next look sees its task.
  void anotherProgramAppendsWhileTheTableIsRead() {
    const QByteArray path = QFile::encodeName(dir_.filePath("SHARED.DBF"));
    QVERIFY(MakeTable(dir_.filePath("SHARED.DBF"), {{"NAME", "C", 10, 0}}));
    const int area = xb_Use(path.constData(), "MAKE", XB_EXCLUSIVE, XB_DRIVER_FOX);
    QVERIFY(area != 0);
    QVERIFY(xb_IndexTag("", "NAME", "NAME", 0, 0, "") != 0);
    xb_Close(area);
    int c = 0;
    QCOMPARE(L.OpenTable(db_, "SHARED.DBF", "XBFOX", "NAME", false, false, &c), 0);
    for (int round = 1; round <= 3; ++round) {
      QByteArray image;
      RecordInfo info;
      QCOMPARE(L.SetToBegin(c), 0);
      int rows = 0;
      while (L.GetNextRecord(c, false, &image, &info) == 0) ++rows;
      QCOMPARE(rows, round - 1);
      QProcess tool;
      tool.start(QStringLiteral(XBTOOL_PATH),
                 {"append", "--shared", dir_.filePath("SHARED.DBF"), QStringLiteral("NAME=row%1").arg(round)});
      QVERIFY(QTest::qWaitFor([&] { return tool.state() == QProcess::NotRunning; }, 60000));
      QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
    }
    QCOMPARE(L.CloseTable(c), 0);
  }

  void fieldConversions() {
    QVERIFY(MakeTable(dir_.filePath("NUMS.DBF"),
                      {{"SMALL", "N", 3, 0}, {"PRICE", "N", 6, 2}, {"BIG", "N", 8, 0}, {"NAME", "C", 10, 0},
                       {"WHEN", "D", 8, 0}, {"OK", "L", 1, 0}, {"MEMO", "M", 10, 0}}));
    int c = 0;
    QCOMPARE(L.OpenTable(db_, "NUMS.DBF", "XBFOX", "", false, false, &c), 0);
    std::vector<FieldDesc> f;
    QCOMPARE(L.GetFieldDescs(c, &f), 0);
    QCOMPARE(int(f.size()), 7);
    QCOMPARE(f[0].kind, FieldKind::SmallInt);
    QCOMPARE(f[1].kind, FieldKind::Float);
    QCOMPARE(f[1].units2, 2);
    QCOMPARE(f[2].kind, FieldKind::Float);
    QCOMPARE(f[3].length, 11);
    QCOMPARE(f[4].kind, FieldKind::Date);
    QCOMPARE(f[6].kind, FieldKind::Memo);

    QByteArray image;
    QCOMPARE(L.InitRecord(c, &image), 0);
    QVariant v;
    bool blank = false;
    QCOMPARE(L.GetField(c, 4, image, &v, &blank), 0);
    QVERIFY(blank);  // a blank character field is blank, not an empty text

    QCOMPARE(L.PutField(c, 1, &image, 1234), int(kCursorOverflow));
    QCOMPARE(L.PutField(c, 1, &image, 123), 0);
    auto price = [&](double x) {
      const int s = L.PutField(c, 2, &image, x);
      return s != 0 ? QString::number(s) : QString::fromLatin1(image.mid(f[1].offset - 1, 6));
    };
    QCOMPARE(price(123.456), QString("123.46"));
    QCOMPARE(price(12345.678), QString(" 12346"));
    QCOMPARE(price(1234567.5), QString("10019"));
    QCOMPARE(price(-1.5), QString(" -1.50"));

    const int xmas = CursorLayer::DayCount(2026, 12, 25);
    QCOMPARE(L.PutField(c, 5, &image, xmas), 0);
    QCOMPARE(image.mid(f[4].offset - 1, 8), QByteArray("20261225"));
    QCOMPARE(L.GetField(c, 5, image, &v, &blank), 0);
    QCOMPARE(v.toInt(), xmas);
    int y, m, d;
    QVERIFY(CursorLayer::FromDayCount(CursorLayer::DayCount(2024, 2, 29), &y, &m, &d));
    QCOMPARE(QList<int>({y, m, d}), QList<int>({2024, 2, 29}));
    QCOMPARE(CursorLayer::DayCount(1, 1, 1), 1);

    QCOMPARE(L.PutField(c, 4, &image, QString("much too long a name")), 0);
    QCOMPARE(L.GetField(c, 4, image, &v, &blank), 0);
    QCOMPARE(v.toString(), QString("much too l"));
    QCOMPARE(L.PutField(c, 6, &image, true), 0);
    QCOMPARE(L.GetField(c, 6, image, &v, &blank), 0);
    QVERIFY(v.toBool());

    // The image goes in whole; a bookmark past the end leaves the cursor at the end.
    RecordInfo info;
    QCOMPARE(L.InsertRecord(c, false, image, &info), 0);
    QCOMPARE(info.recno, 1L);
    QCOMPARE(L.PutBlob(c, 7, "a note"), 0);
    QString note;
    QCOMPARE(L.GetBlob(c, 7, &note), 0);
    QCOMPARE(note, QString("a note"));
    QCOMPARE(L.SetToBookmark(c, 99), 0);
    QCOMPARE(L.GetRecord(c, false, &image, &info), int(kCursorEof));
    QCOMPARE(L.SetToBegin(c), 0);
    QCOMPARE(L.GetNextRecord(c, false, &image, &info), 0);
    QCOMPARE(L.GetNextRecord(c, false, &image, &info), int(kCursorEof));
    QCOMPARE(L.GetPriorRecord(c, false, &image, &info), 0);
    QCOMPARE(L.GetPriorRecord(c, false, &image, &info), int(kCursorBof));
    QCOMPARE(L.GetRecordForKey(c, "x", kSearchExact), int(kCursorNoOrder));
    QCOMPARE(L.SwitchToIndex(c, "NOTAG"), int(kCursorNoIndex));

    // Unsupported operations and properties say so and succeed.
    quiet_.shown.clear();
    QCOMPARE(L.Unsupported("AddPassword"), 0);
    QCOMPARE(L.GetProp(0x30001), 0);
    QCOMPARE(quiet_.shown, QStringList({"This function is not supported by the table layer : AddPassword",
                                        "GetProp: iProp = 00030001"}));
    QCOMPARE(CursorLayer::StatusText(11011), QString("File Open Error"));
    QCOMPARE(CursorLayer::StatusText(8706), QString("Table layer error : 8706"));
    L.CloseTable(c);
  }
};

QTEST_GUILESS_MAIN(CursorLayerTest)
#include "tst_CursorLayer.moc"
