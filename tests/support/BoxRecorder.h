#pragma once

#include "MessageBox.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

// Stands in for the console's message boxes while it lives: records each box
// and answers it, then puts back the routine that was there before.
class TBoxRecorder final {
public:
    struct TBox {
        QString text, caption;
        MsgIcon icon = MsgIcon::Information;
        MsgButtons buttons = MsgButtons::Ok;
    };
    QList<TBox> boxes;
    // Given in turn; Ok once they have run out.
    std::deque<MsgAnswer> answers;
    // Runs inside each box before it is answered (the box's own moment).
    std::function<void(const TBox &)> onBox;
    // Each box stays "open" this long, running the event loop, as while an
    // operator reads it; the console goes on meanwhile.
    int holdMs = 0;
    int open = 0;    // boxes open now
    int maxOpen = 0; // the most open at once

    explicit TBoxRecorder(int hold = 0);
    ~TBoxRecorder();
    TBoxRecorder(const TBoxRecorder &) = delete;
    TBoxRecorder &operator=(const TBoxRecorder &) = delete;

    // "caption: text" for each box.
    QStringList Lines() const;

private:
    MessageBoxRoutine previous_;
};
