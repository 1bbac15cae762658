#include "LogMemo.h"

#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

namespace LogMemoLines {
namespace {

int BlockLines(QPlainTextEdit *memo, const QTextBlock &block)
{
    if (auto *layout = qobject_cast<QPlainTextDocumentLayout *>(memo->document()->documentLayout()))
        layout->ensureBlockLayout(block);
    const int lines = block.layout() ? block.layout()->lineCount() : 0;
    return lines > 0 ? lines : 1;
}

} // namespace

void InsertEntry(QPlainTextEdit *memo, const QString &entry)
{
    QString text = entry;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextCursor cursor(memo->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.beginEditBlock();
    if (memo->document()->isEmpty())
        cursor.insertText(text);
    else
        cursor.insertText(text + QLatin1Char('\n'));
    cursor.endEditBlock();
}

int VisualLineCount(QPlainTextEdit *memo)
{
    QTextDocument *doc = memo->document();
    if (doc->isEmpty())
        return 0;
    int lines = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        lines += BlockLines(memo, block);
    return lines;
}

void Trim(QPlainTextEdit *memo, int maxLines)
{
    QTextDocument *doc = memo->document();
    int lines = VisualLineCount(memo);
    if (lines <= maxLines)
        return;
    QTextCursor cursor(doc);
    // No edit block here: each deletion must be laid out before the next count.
    while (lines > maxLines) {
        const QTextBlock last = doc->lastBlock();
        const int blockLines = BlockLines(memo, last);
        if (blockLines > 1) {
            // Only the bottom visual line of a wrapped entry goes.
            const QTextLine line = last.layout()->lineAt(blockLines - 1);
            cursor.setPosition(last.position() + line.textStart());
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        } else if (last.previous().isValid()) {
            cursor.setPosition(last.previous().position() + last.previous().length() - 1);
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        } else {
            cursor.select(QTextCursor::Document);
            cursor.removeSelectedText();
        }
        const int now = VisualLineCount(memo);
        if (now >= lines)
            break; // nothing more can go; never loop on a layout that does not shrink
        lines = now;
    }
}

} // namespace LogMemoLines
