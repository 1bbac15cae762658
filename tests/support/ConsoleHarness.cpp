#include "ConsoleHarness.h"

#include "Console.h"
#include "Frame.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <random>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <thread>
#include <time.h>

TLogWatch::TLogWatch(QPlainTextEdit *memo) : QObject(memo), memo_(memo)
{
    connect(memo->document(), &QTextDocument::contentsChange, this, &TLogWatch::Changed);
}

void TLogWatch::Changed(int position, int removed, int added)
{
    Q_UNUSED(removed);
    // An entry goes in as line 0; the trim takes lines off the bottom.
    if (position != 0 || added <= 0)
        return;
    const auto at = SteadyClock::now();
    QString text = memo_->document()->toPlainText().left(added);
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    entries.push_back({text, at});
}

namespace {

struct TStation {
    const char *wire; // Fleet and Ident as the radio sends them
    const char *name; // as the log names it
};

// The sample directory's stations, and some it does not know (named Fleet-Ident).
const TStation Known[] = {{"1001000", "Base"},
                          {"1001001", "Yard"},
                          {"1011101", "Car 1"},
                          {"1011102", "Car 2"},
                          {"1021203", "Truck 3"}};
const TStation Unknown[] = {{"1103000", "110-3000"},
                            {"1103001", "110-3001"},
                            {"2004000", "200-4000"},
                            {"3494999", "349-4999"},
                            {"1501500", "150-1500"}};

struct TStatusText {
    const char *number;
    const char *text;
};
const TStatusText Statuses[] = {{"10", "Default"},   {"20", "On duty"},   {"21", "Arrived"},
                                {"23", "At scene"},  {"25", "Available"}, {"30", "On break"},
                                {"07", "Status:07"}, {"58", "Status:58"}};

const TStation &PickStation(std::mt19937 &rng)
{
    if (rng() % 10 < 8)
        return Known[rng() % std::size(Known)];
    return Unknown[rng() % std::size(Unknown)];
}

QByteArray MessageText(std::mt19937 &rng, int sequence, int length)
{
    static const char words[] = "Return to base. Road closed at the bridge, use the north gate. ";
    QByteArray text = QByteArray::number(sequence).rightJustified(6, '0').prepend('#') + ' ';
    while (text.size() < length)
        text += words[(text.size() + int(rng() % 3)) % (sizeof words - 1)];
    text.truncate(length);
    return text;
}

QString Preview(const QByteArray &text)
{
    // The log shows the first 30 characters of a message.
    if (text.size() > 30)
        return QString::fromLatin1(text.left(30)) + QLatin1String("...");
    return QString::fromLatin1(text);
}

} // namespace

std::vector<TSentFrame> MakeTrafficMix(int count, unsigned seed, int maxLongText)
{
    std::mt19937 rng(seed);
    std::vector<TSentFrame> frames;
    frames.reserve(std::size_t(count));
    static const char *acks[] = {"Success", "Fail", "Busy", "Command NG"};
    for (int i = 0; i < count; ++i) {
        const unsigned pick = rng() % 100;
        TSentFrame f;
        QByteArray payload;
        if (pick < 20) {
            const int a = int(rng() % 4);
            payload = QByteArray(1, char('0' + a));
            f.expect = QString::fromLatin1(acks[a]);
        } else if (pick < 30) {
            const TStation &s = PickStation(rng);
            payload = QByteArray("B") + s.wire;
            f.expect = QStringLiteral("Call from ") + QString::fromLatin1(s.name);
        } else if (pick < 38) {
            const TStation &s = PickStation(rng);
            payload = QByteArray("D") + s.wire;
            f.expect = QStringLiteral("Call end from ") + QString::fromLatin1(s.name);
        } else if (pick < 56) {
            const TStation &s = PickStation(rng);
            const TStatusText &st = Statuses[rng() % std::size(Statuses)];
            payload = QByteArray("E") + s.wire + st.number;
            f.expect = QStringLiteral("Status:%1 from %2\n\t\"%3\"")
                           .arg(QLatin1String(st.number), QLatin1String(s.name), QLatin1String(st.text));
        } else if (pick < 76 || (pick < 80 && maxLongText < 100)) {
            const TStation &s = PickStation(rng);
            const QByteArray text = MessageText(rng, i, 8 + int(rng() % 41));
            payload = QByteArray("F") + s.wire + text;
            f.expect =
                QStringLiteral("Short Message from %1\n\t\"%2\"").arg(QLatin1String(s.name), Preview(text));
        } else if (pick < 80) {
            const TStation &s = PickStation(rng);
            const QByteArray text = MessageText(rng, i, 100 + int(rng() % unsigned(maxLongText - 99)));
            payload = QByteArray("G") + s.wire + text;
            f.expect =
                QStringLiteral("Long Message from %1\n\t\"%2\"").arg(QLatin1String(s.name), Preview(text));
        } else if (pick < 90) {
            const TStation &s = PickStation(rng);
            const bool connect = rng() % 2;
            payload = QByteArray("I") + (connect ? "1" : "0") + s.wire + s.wire;
            f.expect = QStringLiteral("PTT ID %1 from %2")
                           .arg(QLatin1String(connect ? "Connect" : "Disconnect"), QLatin1String(s.name));
        } else {
            const TStation &a = Known[rng() % std::size(Known)];
            const TStation &b = PickStation(rng);
            const TStation &to = (&a == &b) ? Unknown[0] : b;
            const bool start = rng() % 2;
            payload = QByteArray("I") + (start ? "1" : "0") + a.wire + to.wire;
            f.expect = QStringLiteral("Call %1 from %2 to %3")
                           .arg(QLatin1String(start ? "start" : "end"), QLatin1String(a.name),
                                QLatin1String(to.name));
        }
        f.bytes = BuildFrame(payload);
        frames.push_back(std::move(f));
    }
    return frames;
}

std::vector<TSentFrame> MakeWarmUp()
{
    std::vector<TSentFrame> frames;
    const auto add = [&](const TStation &s) {
        TSentFrame f;
        f.bytes = BuildFrame(QByteArray("D") + s.wire);
        f.expect = QStringLiteral("Call end from ") + QString::fromLatin1(s.name);
        frames.push_back(std::move(f));
    };
    for (const TStation &s : Known)
        add(s);
    for (const TStation &s : Unknown)
        add(s);
    return frames;
}

namespace {

void SleepUntil(SteadyClock::time_point when)
{
    // steady_clock is CLOCK_MONOTONIC here.
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    timespec t{time_t(ns / 1000000000), long(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

} // namespace

bool WriteFrames(TRadioLine &line, std::vector<TSentFrame> &frames, int bitRate, int burst, int pauseMs)
{
    using namespace std::chrono;
    // Wake-ups a tenth of a character late would blur the pacing.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    const auto start = SteadyClock::now() + milliseconds(5);
    SleepUntil(start);
    if (bitRate <= 0) {
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (i > 0 && burst > 0 && i % std::size_t(burst) == 0)
                std::this_thread::sleep_for(milliseconds(pauseMs));
            if (!line.Write(frames[i].bytes))
                return false;
            frames[i].written = SteadyClock::now();
        }
        return true;
    }
    // One character is 11 bits on the radio's line: start, 8 data bits, 2 stop bits.
    const auto perByte = duration<double>(11.0 / bitRate);
    qint64 k = 0;
    for (TSentFrame &f : frames) {
        qsizetype pos = 0;
        while (pos < f.bytes.size()) {
            SleepUntil(start + duration_cast<nanoseconds>(perByte * double(k)));
            // Behind the schedule (the writer was not run in time): what is due
            // goes at once, so that the rate holds on average.
            const qint64 due = qint64((SteadyClock::now() - start) / perByte) + 1 - k;
            const qsizetype n = std::clamp<qsizetype>(qsizetype(due), 1, f.bytes.size() - pos);
            if (!line.Write(f.bytes.constData() + pos, n))
                return false;
            pos += n;
            k += n;
        }
        f.written = SteadyClock::now();
    }
    return true;
}

std::vector<int> MatchEntries(const std::vector<TSentFrame> &sent, const std::vector<TLogWatch::TEntry> &log)
{
    // Entries of noise frames may come between two sent frames, but only a few.
    constexpr std::size_t Window = 256;
    const QString rx = QStringLiteral(" RX: ");
    std::vector<int> match(sent.size(), -1);
    std::size_t next = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        for (std::size_t j = next; j < log.size() && j < next + Window; ++j) {
            const QString &text = log[j].text;
            const qsizetype at = text.indexOf(rx);
            if (at >= 0 && QStringView(text).sliced(at + rx.size()) == sent[i].expect) {
                match[i] = int(j);
                next = j + 1;
                break;
            }
        }
    }
    return match;
}

TConsoleHarness::TConsoleHarness(unsigned popupFlags, int lines, int comPort)
{
    QList<int> radios;
    for (int n = 1; n <= lines; ++n)
        radios << n;
    error_ = dir_.Prepare(TScratchDir::Settings(comPort, popupFlags), radios);
    if (!error_.isEmpty())
        return;
    if (!dir_.MakeCurrent()) {
        error_ = QStringLiteral("cannot enter the scratch directory");
        return;
    }
    try {
        CreateConsoleWindows();
    } catch (const std::exception &e) {
        error_ = QString::fromUtf8(e.what());
        return;
    }
    if (Console->EndRequested()) {
        error_ = QStringLiteral("the console found no usable port");
        return;
    }
    Console->Window()->show();
}

TConsoleHarness::~TConsoleHarness()
{
    DeleteConsoleWindows();
}

QPlainTextEdit *TConsoleHarness::LogMemo() const
{
    return Console ? Console->Window()->findChild<QPlainTextEdit *>(QStringLiteral("LogMemo")) : nullptr;
}

namespace {

// utime + stime of one /proc stat line, in clock ticks.
double StatCpuTicks(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = file.readAll();
    // The command name may hold blanks and parentheses: count fields after the last ')'.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // Fields from 3 on: state is [0]; utime is field 14, stime 15.
    if (fields.size() < 13)
        return 0;
    return fields[11].toDouble() + fields[12].toDouble();
}

} // namespace

double WorkerThreadsCpuMs()
{
    const double tick = 1000.0 / double(::sysconf(_SC_CLK_TCK));
    const QString self = QString::number(::getpid());
    double ticks = 0;
    for (const QString &tid :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (tid != self)
            ticks += StatCpuTicks(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    }
    return ticks * tick;
}

double ProcessCpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

double MainThreadCpuMs()
{
    // schedstat counts nanoseconds; stat only clock ticks.
    QFile file(QStringLiteral("/proc/self/task/%1/schedstat").arg(::getpid()));
    if (file.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const qint64 ns = file.readAll().split(' ').value(0).toLongLong(&ok);
        if (ok)
            return double(ns) / 1e6;
    }
    return StatCpuTicks(QStringLiteral("/proc/self/task/%1/stat").arg(::getpid())) * 1000.0 /
           double(::sysconf(_SC_CLK_TCK));
}
