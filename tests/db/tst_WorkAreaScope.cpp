// The engine's selected work area is switched only by scopes, which put the earlier one back
// however they end.

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <stdexcept>

#include "db/WorkAreaScope.h"
#include "xbengine.h"

namespace {

int MakeAndOpen(const QString& path, const char* alias) {
  if (xb_CreateNew(QFile::encodeName(path).constData(), alias, XB_DRIVER_FOX, 1) == 0) return 0;
  xb_CreateField("NAME", "C", 10, 0);
  const bool made = xb_CreateExec() != 0;
  xb_Close(0);
  return made ? xb_Use(QFile::encodeName(path).constData(), alias, XB_EXCLUSIVE, XB_DRIVER_FOX) : 0;
}

}  // namespace

class WorkAreaScopeTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir dir_;
  int a_ = 0, b_ = 0;

 private slots:
  void initTestCase() {
    a_ = MakeAndOpen(dir_.filePath("A.DBF"), "A");
    b_ = MakeAndOpen(dir_.filePath("B.DBF"), "B");
    QVERIFY(a_ > 0 && b_ > 0 && a_ != b_);
  }
  void cleanupTestCase() { xb_CloseAll(); }

  void selectsForTheScopeAndPutsBack() {
    xb_Select(a_);
    {
      WorkAreaScope scope(b_);
      QCOMPARE(xb_WorkArea(nullptr), b_);
      QCOMPARE(scope.Previous(), a_);
      {
        WorkAreaScope inner(a_);
        QCOMPARE(xb_WorkArea(nullptr), a_);
      }
      QCOMPARE(xb_WorkArea(nullptr), b_);
    }
    QCOMPARE(xb_WorkArea(nullptr), a_);
  }

  void putsBackWhenLeftByAnException() {
    xb_Select(a_);
    try {
      WorkAreaScope scope(b_);
      throw std::runtime_error("between the halves");
    } catch (const std::runtime_error&) {
    }
    QCOMPARE(xb_WorkArea(nullptr), a_);
  }

  void leavingEarlyHappensOnce() {
    xb_Select(a_);
    WorkAreaScope scope(b_);
    scope.Leave();
    QCOMPARE(xb_WorkArea(nullptr), a_);
    xb_Select(b_);
    scope.Leave();  // nothing more
    QCOMPARE(xb_WorkArea(nullptr), b_);
  }

  // A dataset's call: the area selected before comes back, unless it was the dataset's own; a
  // closed dataset selects nothing; no dataset touches nothing.
  void datasetScopes() {
    xb_Select(a_);
    {
      WorkAreaScope scope = WorkAreaScope::ForDataset(b_);
      QCOMPARE(xb_WorkArea(nullptr), b_);
    }
    QCOMPARE(xb_WorkArea(nullptr), a_);
    {
      WorkAreaScope scope = WorkAreaScope::ForDataset(a_);
      xb_Select(b_);  // a call that selected a new area of its own
    }
    QCOMPARE(xb_WorkArea(nullptr), b_);
    {
      WorkAreaScope scope = WorkAreaScope::ForDataset(0);
      QCOMPARE(xb_WorkArea(nullptr), b_);
      xb_Select(a_);
    }
    QCOMPARE(xb_WorkArea(nullptr), b_);
    {
      WorkAreaScope scope = WorkAreaScope::None();
      xb_Select(a_);
    }
    QCOMPARE(xb_WorkArea(nullptr), a_);
  }
};

QTEST_MAIN(WorkAreaScopeTest)
#include "tst_WorkAreaScope.moc"
