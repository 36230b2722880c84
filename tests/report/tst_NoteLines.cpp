// How a note is broken into display lines: the line-break rules as a table, and the word wrap
// checked for what a reader relies on (nothing lost, nothing wider than the box).

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QTest>

#include "report/NoteLines.h"

class NoteLinesTest : public QObject {
  Q_OBJECT
 private slots:
  void dialogFontIsArialOrItsMetricTwin() {
    const QFontInfo info(NoteLines::DialogFont());
    QVERIFY2(info.family() == QLatin1String("Arial") ||
                 info.family() == QLatin1String("Liberation Sans"),
             qPrintable(info.family()));
    QCOMPARE(info.pixelSize(), 11);
    // 34 digits of a metric-compatible sans face at 11 pixels.
    QVERIFY(NoteLines::TextFileWidth(NoteLines::DialogFont()) > 34 * 5);
    QVERIFY(NoteLines::TextFileWidth(NoteLines::DialogFont()) < 34 * 7);
  }

  void lineBreaks_data() {
    QTest::addColumn<QString>("note");
    QTest::addColumn<QStringList>("lines");
    QTest::addRow("empty") << "" << QStringList();
    QTest::addRow("blanks") << "     " << QStringList();
    QTest::addRow("one break") << "\r\n" << QStringList();
    QTest::addRow("blanks and a break") << "  \r\n" << QStringList();
    QTest::addRow("two breaks") << "\r\n\r\n" << QStringList{"", ""};
    QTest::addRow("two blank lines") << " \r\n " << QStringList{" ", " "};
    QTest::addRow("one line") << "Call back" << QStringList{"Call back"};
    QTest::addRow("trailing break") << "Call back\r\n" << QStringList{"Call back"};
    QTest::addRow("blank line kept inside") << "a\r\n\r\nb" << QStringList{"a", "", "b"};
    QTest::addRow("lone LF and CR") << "a\nb\rc" << QStringList{"a", "b", "c"};
    QTest::addRow("blanks kept") << "  a  " << QStringList{"  a  "};
  }
  void lineBreaks() {
    QFETCH(QString, note);
    QFETCH(QStringList, lines);
    QCOMPARE(NoteLines::Of(note, NoteLines::DialogFont(), 288), lines);
  }

  void wrapKeepsTextWithinTheWidth_data() {
    QTest::addColumn<int>("width");
    QTest::addRow("page") << 384;
    QTest::addRow("document") << 288;
    QTest::addRow("text file") << NoteLines::TextFileWidth(NoteLines::DialogFont());
    QTest::addRow("narrow") << 40;
  }
  void wrapKeepsTextWithinTheWidth() {
    QFETCH(int, width);
    const QFont font = NoteLines::DialogFont();
    const QFontMetrics metrics(font);
    const QString paragraph = QStringLiteral(
        "The plumber comes on Friday between nine and noon; leave the side gate open and the "
        "dog inside. Antidisestablishmentarianismandsomemorelettersbesides must be split.");
    const QString second = QStringLiteral("Second paragraph.");
    const QStringList lines = NoteLines::Of(paragraph, font, width);
    QVERIFY(lines.size() >= 2);
    // A line break starts a new line whatever room is left on the last one.
    QCOMPARE(NoteLines::Of(paragraph + QStringLiteral("\r\n") + second, font, width),
             lines + NoteLines::Of(second, font, width));
    QString joined;
    for (int i = 0; i < lines.size(); ++i) {
      joined += lines[i];
      QString visible = lines[i];
      while (visible.endsWith(QLatin1Char(' '))) visible.chop(1);
      QVERIFY2(metrics.horizontalAdvance(visible) <= width, qPrintable(lines[i]));
    }
    // The pieces put together give the paragraph back: nothing dropped, nothing added.
    QCOMPARE(joined, paragraph);
    // Words move whole to the next line unless they are wider than the box.
    for (int i = 0; i + 1 < lines.size(); ++i) {
      if (!lines[i].endsWith(QLatin1Char(' '))) {
        const QString word =
            lines[i].section(QLatin1Char(' '), -1) + lines[i + 1].section(QLatin1Char(' '), 0, 0);
        QVERIFY2(metrics.horizontalAdvance(word) > width, qPrintable(word));
      }
    }
  }
};

QTEST_MAIN(NoteLinesTest)
#include "tst_NoteLines.moc"
