#include "LogMemo.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <cmath>

bool LogTrimGuard = false;

namespace LogMemoLines {
namespace {

// Entries that come faster than a person can read share one move of the drawn
// lines and one paint: the log is drawn at most this often. A lone entry is
// drawn at once.
constexpr int MinPaintIntervalMs = 40;

// The move of the drawn lines that waits for the log's next paint. Any other
// repaint of the window does the move first, so the lines already drawn and those
// painted anew never come from two states of the log.
class TPendingMove final : public QObject {
public:
    explicit TPendingMove(QPlainTextEdit *memo) : QObject(memo), memo_(memo)
    {
        setObjectName(QStringLiteral("LogPendingMove"));
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this, &TPendingMove::Flush);
        memo->window()->installEventFilter(this);
    }

    static TPendingMove *Of(QPlainTextEdit *memo)
    {
        auto *found = dynamic_cast<TPendingMove *>(
            memo->findChild<QObject *>(QStringLiteral("LogPendingMove"), Qt::FindDirectChildrenOnly));
        return found ? found : new TPendingMove(memo);
    }

    // The log's lines are to move down by height pixels; top is the first line's top.
    void Add(int height, int top)
    {
        height_ += height;
        top_ = top;
        if (timer_.isActive())
            return;
        const qint64 since = painted_.isValid() ? painted_.elapsed() : MinPaintIntervalMs;
        if (since >= MinPaintIntervalMs)
            Flush();
        else
            timer_.start(int(MinPaintIntervalMs - since));
    }

    // The log is to be drawn whole instead.
    void Drop()
    {
        height_ = 0;
        timer_.stop();
        memo_->viewport()->update();
    }

    void Flush();

protected:
    // Every repaint of the window, an expose or a repaint() too, comes by its
    // update request.
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (height_ != 0 && event->type() == QEvent::UpdateRequest && watched == memo_->window())
            Flush();
        return false;
    }

private:
    QPlainTextEdit *memo_;
    QTimer timer_;
    QElapsedTimer painted_;
    int height_ = 0;
    int top_ = 0;
};

QPlainTextDocumentLayout *PlainLayout(QPlainTextEdit *memo)
{
    return qobject_cast<QPlainTextDocumentLayout *>(memo->document()->documentLayout());
}

int BlockLines(QPlainTextDocumentLayout *layout, const QTextBlock &block)
{
    // A block keeps its lines until an edit touches it; only those are laid out again.
    QTextLayout *text = block.layout();
    if (layout && text && text->lineCount() == 0) {
        // Painting then keeps the shaped glyphs instead of shaping every shown line again.
        text->setCacheEnabled(true);
        layout->ensureBlockLayout(block);
    }
    const int lines = text ? text->lineCount() : 0;
    return lines > 0 ? lines : 1;
}

// The entry's pixel height when every block above the old top is a whole number
// of pixels high, else -1: only then can the old lines move without being redrawn.
int InsertedHeight(QPlainTextDocumentLayout *layout, const QTextDocument *doc, int insertedLength)
{
    qreal height = 0;
    for (QTextBlock block = doc->begin(); block.isValid() && block.position() < insertedLength;
         block = block.next()) {
        BlockLines(layout, block);
        height += layout->blockBoundingRect(block).height();
    }
    const int whole = int(std::lround(height));
    return qAbs(height - whole) < 1e-6 ? whole : -1;
}

} // namespace

void InsertEntry(QPlainTextEdit *memo, const QString &entry)
{
    QString text = entry;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextDocument *doc = memo->document();
    QPlainTextDocumentLayout *layout = PlainLayout(memo);
    QWidget *view = memo->viewport();
    const bool wasEmpty = doc->isEmpty();
    if (!wasEmpty)
        text += QLatin1Char('\n');

    // With the top of the log in view, the new entry pushes every shown line down
    // unchanged: the lines already drawn are moved, and only the new entry (and
    // what the trim uncovers at the bottom) is drawn. The layout's own repaint
    // request, the whole view, is held back meanwhile.
    // On a screen scaled by a fraction a moved line would not fall on whole device
    // pixels; there the log is drawn again as before.
    const qreal scale = view->devicePixelRatioF();
    const bool move = !wasEmpty && layout && view->isVisible() && view->updatesEnabled() &&
                      memo->verticalScrollBar()->value() == 0 && scale == std::round(scale);
    const QRect top = memo->cursorRect(QTextCursor(doc));
    {
        const QSignalBlocker hold(move ? layout : nullptr);
        QTextCursor cursor(doc);
        cursor.movePosition(QTextCursor::Start);
        cursor.beginEditBlock();
        cursor.insertText(text);
        cursor.endEditBlock(); // the trim runs here (textChanged)
    }
    if (!move)
        return;
    const int height = InsertedHeight(layout, doc, int(text.size()));
    // The scroll bar follows the document's new size as it would have.
    emit layout->documentSizeChanged(layout->documentSize());
    TPendingMove *pending = TPendingMove::Of(memo);
    if (height <= 0 || memo->verticalScrollBar()->value() != 0 || memo->cursorRect(QTextCursor(doc)) != top) {
        pending->Drop();
        return;
    }
    pending->Add(height, top.top());
}

namespace {

void TPendingMove::Flush()
{
    timer_.stop();
    if (height_ == 0)
        return;
    const int height = height_;
    height_ = 0;
    painted_.restart();
    QWidget *view = memo_->viewport();
    QTextDocument *doc = memo_->document();
    QPlainTextDocumentLayout *layout = PlainLayout(memo_);
    if (!layout || !view->isVisible() || memo_->verticalScrollBar()->value() != 0) {
        view->update();
        return;
    }
    view->scroll(0, height);
    view->update(QRect(0, 0, view->width(), top_ + height));
    // Below the last entry: lines the trim took off, and the last block's
    // bottom lines when only those went.
    qreal lastTop = top_;
    for (QTextBlock block = doc->begin(); block.isValid() && block != doc->lastBlock();
         block = block.next()) {
        lastTop += layout->blockBoundingRect(block).height();
        if (lastTop > view->height())
            return;
    }
    view->update(QRect(0, int(lastTop) - 1, view->width(), view->height()));
}

} // namespace

int VisualLineCount(QPlainTextEdit *memo)
{
    QTextDocument *doc = memo->document();
    if (doc->isEmpty())
        return 0;
    QPlainTextDocumentLayout *layout = PlainLayout(memo);
    int lines = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        lines += BlockLines(layout, block);
    return lines;
}

void Trim(QPlainTextEdit *memo, int maxLines)
{
    QTextDocument *doc = memo->document();
    QPlainTextDocumentLayout *layout = PlainLayout(memo);
    int lines = VisualLineCount(memo);
    QTextCursor cursor(doc);
    // The lines over the limit come off the bottom in one deletion: whole blocks,
    // and the lower lines of the block the limit falls in (its upper lines wrap as
    // before). The count is taken again after it, and the loop goes on should the
    // layout have come out otherwise.
    while (lines > maxLines) {
        int keep = maxLines;
        QTextBlock block = doc->begin();
        int blockLines = BlockLines(layout, block);
        while (keep > blockLines && block.next().isValid()) {
            keep -= blockLines;
            block = block.next();
            blockLines = BlockLines(layout, block);
        }
        if (keep <= 0 || maxLines <= 0) {
            cursor.select(QTextCursor::Document);
        } else if (keep < blockLines) {
            cursor.setPosition(block.position() + block.layout()->lineAt(keep).textStart());
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        } else if (block.next().isValid()) {
            cursor.setPosition(block.position() + block.length() - 1);
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        } else {
            break;
        }
        cursor.removeSelectedText();
        const int now = VisualLineCount(memo);
        if (now >= lines)
            break; // nothing more can go; never loop on a layout that does not shrink
        lines = now;
    }
}

} // namespace LogMemoLines
