#pragma once

// Reads a PDF the way a person checks a printout: page count and each page's text with its
// layout, through poppler's command-line tools.

#include <QImage>
#include <QList>
#include <QProcess>
#include <QRectF>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class PdfText {
 public:
  // 0 when the file is not a PDF poppler can read.
  static int Pages(const QString& pdf) {
    const QString info = Run(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)"), QRegularExpression::MultilineOption)
            .match(info);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
  }

  // The text of page `page` (counted from 1), laid out in columns as on the paper.
  static QString Page(const QString& pdf, int page) {
    return Run(QStringLiteral("pdftotext"),
               {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
  }

  // One word of a page and the box its letters take, in inches from the paper's top-left corner
  // (the box spans the letters' full advance, also where the page clips them).
  struct Word {
    QString text;
    QRectF box;
  };

  // The words of page `page` in the order the page gives them.
  static QList<Word> Words(const QString& pdf, int page) {
    const QString html =
        Run(QStringLiteral("pdftotext"),
            {QStringLiteral("-bbox"), QStringLiteral("-f"), QString::number(page),
             QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
    static const QRegularExpression word(QStringLiteral(
        "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">"
        "([^<]*)</word>"));
    QList<Word> words;
    for (auto it = word.globalMatch(html); it.hasNext();) {
      const QRegularExpressionMatch m = it.next();
      QString text = m.captured(5);
      text.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
          .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
          .replace(QStringLiteral("&quot;"), QStringLiteral("\""))
          .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
      // pdftotext measures in points.
      words << Word{text, QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()) / 72,
                                 QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()) / 72)};
    }
    return words;
  }

  // Page `page` as a grey picture at `dpi` dots per inch; null when it cannot be made.
  static QImage Picture(const QString& pdf, int page, int dpi) {
    QTemporaryDir dir;
    const QString prefix = dir.filePath(QStringLiteral("page"));
    Run(QStringLiteral("pdftoppm"),
        {QStringLiteral("-gray"), QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"),
         QString::number(page), QStringLiteral("-l"), QString::number(page),
         QStringLiteral("-singlefile"), pdf, prefix});
    return QImage(prefix + QStringLiteral(".pgm")).convertToFormat(QImage::Format_Grayscale8);
  }

 private:
  static QString Run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000)) return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
  }
};
