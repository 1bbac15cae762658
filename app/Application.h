#pragma once

#include "ErrorReport.h"

#include <QApplication>
#include <QString>
#include <deque>
#include <exception>

// The application object. It is the console's general error handler: an exception
// that leaves an event handler is shown in an error box and the program goes on.
// Errors handed over from the serial reader thread are shown the same way.
class TApplication final : public QApplication {
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);
    ~TApplication() override;

    bool notify(QObject *receiver, QEvent *event) override;

    // Shows an error box; callable from any thread. Boxes never nest: an error that
    // arrives while one is open (its own or any other window's) waits its turn. A flood (noise on the line)
    // is bounded: repeats of a waiting message are dropped and at most MaxPending wait.
    void ShowError(const QString &message);
    void ShowException(std::exception_ptr error);

    // The error box's caption.
    static QString ErrorCaption();

    static constexpr std::size_t MaxPending = 8;
    // How many errors were dropped because the queue was full or they repeated.
    int DroppedErrors() const { return dropped_; }
    int ShownErrors() const { return shown_; }

    static TApplication *Instance();

private:
    void ShowNext();

    std::deque<QString> pending_;
    bool showing_ = false;
    bool waiting_ = false; // for another window's box to close
    int dropped_ = 0;
    int shown_ = 0;
};
