#include "dialogs/TaskEditorTextGuard.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "db/Cp1252.h"
#include "platform/UserMessages.h"

namespace {

bool Storable(QChar ch) {
  // A memo's document keeps its line ends as paragraph and line separators; they reach the file
  // as line breaks, which the code page holds.
  if (ch == QChar::ParagraphSeparator || ch == QChar::LineSeparator) return true;
  return Cp1252::FirstUnencodable(QString(ch)).isNull();
}

}  // namespace

TaskEditorTextGuard::TaskEditorTextGuard(QObject* control) : QObject(control) {}

void TaskEditorTextGuard::Guard(QLineEdit* edit) {
  auto* guard = new TaskEditorTextGuard(edit);
  // textEdited, not textChanged: only what the user does is checked.
  connect(edit, &QLineEdit::textEdited, guard,
          [guard, edit](const QString& text) { guard->LineEdited(edit, text); });
}

void TaskEditorTextGuard::Guard(QPlainTextEdit* memo) {
  auto* guard = new TaskEditorTextGuard(memo);
  connect(memo, &QPlainTextEdit::textChanged, guard, [guard, memo] { guard->MemoChanged(memo); });
}

QString TaskEditorTextGuard::Unencodable(const QString& text) {
  QString refused;
  for (QChar ch : text)
    if (!Storable(ch)) refused.append(ch);
  return refused;
}

QString TaskEditorTextGuard::Strip(const QString& text) {
  QString kept;
  kept.reserve(text.size());
  for (QChar ch : text)
    if (Storable(ch)) kept.append(ch);
  return kept;
}

QString TaskEditorTextGuard::RefusalMessage(const QString& refused) {
  return QStringLiteral("The task list cannot store %1, so it was left out.")
      .arg(QLatin1Char('"') + refused + QLatin1Char('"'));
}

void TaskEditorTextGuard::LineEdited(QLineEdit* edit, const QString& text) {
  if (fixing_) return;
  const QString refused = Unencodable(text);
  if (refused.isEmpty()) return;
  // The cursor stays behind what was typed: it moves back by the characters taken out before it.
  const int cursor = edit->cursorPosition();
  const int removedBefore = int(Unencodable(text.left(cursor)).size());
  fixing_ = true;
  edit->setText(Strip(text));
  edit->setCursorPosition(cursor - removedBefore);
  fixing_ = false;
  UserMessages::ShowInformation(RefusalMessage(refused));
}

void TaskEditorTextGuard::MemoChanged(QPlainTextEdit* memo) {
  if (fixing_) return;
  QTextDocument* document = memo->document();
  QString refused;
  QList<int> positions;
  // Block by block: the whole text is scanned (notes are short), but only the blocks' own text,
  // so the document's end-of-text marker is never seen.
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    const QString text = block.text();
    for (int i = 0; i < text.size(); ++i) {
      if (Storable(text[i])) continue;
      refused.append(text[i]);
      positions.append(block.position() + i);
    }
  }
  if (positions.isEmpty()) return;
  fixing_ = true;
  QTextCursor cursor(document);
  cursor.beginEditBlock();
  // From the end, so that the positions still to come stay valid.
  for (qsizetype i = positions.size() - 1; i >= 0; --i) {
    cursor.setPosition(positions[i]);
    cursor.setPosition(positions[i] + 1, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
  }
  cursor.endEditBlock();
  fixing_ = false;
  UserMessages::ShowInformation(RefusalMessage(refused));
}
