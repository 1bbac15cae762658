#include "RadioLine.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

TRadioLine::TRadioLine()
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return;
    // Only the master is kept: the slave is opened by name, as a serial device is.
    ::close(slave);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    master_ = master;
    slavePath_ = QString::fromLocal8Bit(name);
}

TRadioLine::~TRadioLine()
{
    Close();
}

bool TRadioLine::Write(const char *data, qsizetype size, int waitMs)
{
    const QDeadlineTimer deadline(waitMs);
    while (size > 0 && master_ >= 0) {
        const ssize_t n = ::write(master_, data, std::size_t(size));
        if (n > 0) {
            data += n;
            size -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !deadline.hasExpired()) {
            pollfd fd{master_, POLLOUT, 0};
            ::poll(&fd, 1, int(std::min<qint64>(deadline.remainingTime(), 100)));
            continue;
        }
        return false;
    }
    return size == 0;
}

QByteArray TRadioLine::Receive(qsizetype want, int waitMs) const
{
    QByteArray got;
    const QDeadlineTimer deadline(waitMs);
    char chunk[4096];
    while (master_ >= 0 && got.size() < want) {
        pollfd fd{master_, POLLIN, 0};
        if (::poll(&fd, 1, int(deadline.remainingTime())) <= 0 || !(fd.revents & POLLIN))
            break;
        const ssize_t n = ::read(master_, chunk, sizeof chunk);
        if (n <= 0)
            break;
        got.append(chunk, n);
    }
    return got;
}

void TRadioLine::Close()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}
