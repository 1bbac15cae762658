#include "BoxRecorder.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>

TBoxRecorder::TBoxRecorder(int hold) : holdMs(hold)
{
    previous_ = SetMessageBoxRoutine(
        [this](const QString &text, const QString &caption, MsgIcon icon, MsgButtons buttons) {
            boxes.append({text, caption, icon, buttons});
            ++open;
            maxOpen = std::max(maxOpen, open);
            if (onBox)
                onBox(boxes.constLast());
            if (holdMs > 0) {
                QEventLoop loop;
                QTimer::singleShot(holdMs, &loop, &QEventLoop::quit);
                loop.exec();
            }
            --open;
            if (answers.empty())
                return MsgAnswer::Ok;
            const MsgAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        });
}

TBoxRecorder::~TBoxRecorder()
{
    SetMessageBoxRoutine(previous_);
}

QStringList TBoxRecorder::Lines() const
{
    QStringList lines;
    for (const TBox &box : boxes)
        lines << box.caption + QStringLiteral(": ") + box.text;
    return lines;
}
