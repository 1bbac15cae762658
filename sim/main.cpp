// corvalink-radiosim: stands in for the radio on a pseudo-terminal linked as COM1, so the
// console can be run and tried without a radio.
#include "RadioSim.h"
#include "SimHelp.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <stdexcept>

namespace {

void PrintText(std::FILE *to, const QString &text)
{
    std::fputs(text.toUtf8().constData(), to);
}

double ParsePercent(const QString &option, const QString &value)
{
    QString v = value.trimmed();
    if (v.endsWith(QLatin1Char('%')))
        v.chop(1);
    bool ok = false;
    const double p = v.toDouble(&ok);
    if (!ok || p < 0 || p > 100)
        throw std::runtime_error(
            QStringLiteral("--%1: '%2' is not a percentage from 0 to 100").arg(option, value).toStdString());
    return p;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvalink-radiosim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVALINK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stands in for the radio: opens a pseudo-terminal set up like the radio's line (9600 "
        "8N2, no handshake, raw), links it as COM1 in a directory, answers every command frame "
        "of the console (Success unless told otherwise) and prints it readably, and sends the "
        "radio's incoming traffic on command or as a looping demonstration."));
    const QCommandLineOption dirOption(
        QStringLiteral("dir"),
        QStringLiteral("Put the link in <directory> (default: the working directory)."),
        QStringLiteral("directory"), QStringLiteral("."));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Name of the link (default COM1)."),
                                        QStringLiteral("name"), QStringLiteral("COM1"));
    const QCommandLineOption scriptOption(
        QStringLiteral("script"), QStringLiteral("Read the commands from <file> instead of standard input."),
        QStringLiteral("file"));
    const QCommandLineOption demoOption(
        QStringLiteral("demo"), QStringLiteral("Play the demonstration traffic in a loop while a console has "
                                               "the port open; keeps running after the input ends."));
    const QCommandLineOption stayOption(
        QStringLiteral("stay"), QStringLiteral("Keep running after the input ends, until quit or a signal."));
    const QCommandLineOption forceOption(
        QStringLiteral("force"), QStringLiteral("Replace an existing link of the same name (a plain file is "
                                                "never replaced; a dangling link always is)."));
    const QCommandLineOption delayOption(
        QStringLiteral("ack-delay"),
        QStringLiteral("Answer each command after <ms> milliseconds (default 100)."), QStringLiteral("ms"),
        QStringLiteral("100"));
    const QCommandLineOption ackOption(
        QStringLiteral("ack"),
        QStringLiteral(
            "An acknowledgement rule, as the ack command takes it, e.g. \"busy E always\" or \"fail "
            "20%\". May be repeated."),
        QStringLiteral("rule"));
    const QCommandLineOption failRateOption(
        QStringLiteral("ack-fail-rate"),
        QStringLiteral("Answer <percent> of all commands with Fail, at random."), QStringLiteral("percent"));
    const QCommandLineOption busyRateOption(
        QStringLiteral("ack-busy-rate"),
        QStringLiteral("Answer <percent> of all commands with Busy, at random."), QStringLiteral("percent"));
    const QCommandLineOption ngRateOption(
        QStringLiteral("ack-ng-rate"),
        QStringLiteral("Answer <percent> of all commands with Command NG, at random."),
        QStringLiteral("percent"));
    const QCommandLineOption noneRateOption(
        QStringLiteral("ack-none-rate"),
        QStringLiteral("Leave <percent> of all commands unanswered, at random."), QStringLiteral("percent"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Seed for the random answers, to repeat a run."),
                                        QStringLiteral("number"));
    const QCommandLineOption codepageOption(
        QStringLiteral("codepage"),
        QStringLiteral("Code page of message texts on the line, as iconv names it (default CP1252)."),
        QStringLiteral("name"), QStringLiteral("CP1252"));
    const QCommandLineOption tcpOption(
        QStringLiteral("tcp"),
        QStringLiteral("Serve the radio's end on TCP <port> instead of a pseudo-terminal, as a serial "
                       "server would; socat makes the console's COM1 link. 0 takes a free port."),
        QStringLiteral("port"));
    const QCommandLineOption tcpHostOption(
        QStringLiteral("tcp-host"),
        QStringLiteral("Listen on <address> (default 127.0.0.1; only loopback addresses)."),
        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption hexOption(QStringLiteral("hex"),
                                       QStringLiteral("Also print the bytes of every frame."));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help, the commands and examples."));
    const QCommandLineOption versionOption(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Show the version."));
    parser.addOptions({dirOption, portOption, scriptOption, demoOption, stayOption, forceOption, delayOption,
                       ackOption, failRateOption, busyRateOption, ngRateOption, noneRateOption, seedOption,
                       codepageOption, tcpOption, tcpHostOption, hexOption, helpOption, versionOption});

    if (!parser.parse(QCoreApplication::arguments())) {
        PrintText(stderr, QStringLiteral("corvalink-radiosim: %1\nTry --help.\n").arg(parser.errorText()));
        return 2;
    }
    if (parser.isSet(helpOption)) {
        PrintText(stdout, parser.helpText() + QLatin1Char('\n') + CommandLanguageHelp() + QLatin1Char('\n') +
                              UsageExamples());
        return 0;
    }
    if (parser.isSet(versionOption)) {
        PrintText(stdout,
                  QStringLiteral("corvalink-radiosim %1\n").arg(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        PrintText(stderr, QStringLiteral("corvalink-radiosim: unexpected argument '%1'\nTry --help.\n")
                              .arg(parser.positionalArguments().first()));
        return 2;
    }

    SimOptions options;
    try {
        options.dir = parser.value(dirOption);
        options.port = parser.value(portOption);
        options.script = parser.value(scriptOption);
        options.demo = parser.isSet(demoOption);
        options.stay = parser.isSet(stayOption);
        options.force = parser.isSet(forceOption);
        options.hex = parser.isSet(hexOption);
        options.codepage = parser.value(codepageOption).toLatin1();
        bool ok = false;
        options.ackDelayMs = parser.value(delayOption).toInt(&ok);
        if (!ok || options.ackDelayMs < 0 || options.ackDelayMs > 60000)
            throw std::runtime_error(
                QStringLiteral("--ack-delay: '%1' is not a number of milliseconds from 0 to 60000")
                    .arg(parser.value(delayOption))
                    .toStdString());
        for (const QString &rule : parser.values(ackOption)) {
            try {
                options.ackRequests << ParseAckArguments(rule.split(QLatin1Char(' '), Qt::SkipEmptyParts));
            } catch (const std::exception &e) {
                throw std::runtime_error(
                    QStringLiteral("--ack \"%1\": %2").arg(rule, QString::fromUtf8(e.what())).toStdString());
            }
        }
        const std::pair<const QCommandLineOption *, AckResult> rates[] = {
            {&failRateOption, AckResult::Fail},
            {&busyRateOption, AckResult::Busy},
            {&ngRateOption, AckResult::CommandNG},
            {&noneRateOption, AckResult::None}};
        for (const auto &[option, result] : rates) {
            if (!parser.isSet(*option))
                continue;
            AckRequest request;
            request.kind = AckRequest::Kind::Rate;
            request.result = result;
            request.percent = ParsePercent(option->names().first(), parser.value(*option));
            options.ackRequests << request;
        }
        if (parser.isSet(tcpOption)) {
            const uint port = parser.value(tcpOption).toUInt(&ok);
            if (!ok || port > 65535)
                throw std::runtime_error(QStringLiteral("--tcp: '%1' is not a port number from 0 to 65535")
                                             .arg(parser.value(tcpOption))
                                             .toStdString());
            // On TCP there is no link to make; options about it would be silently ignored.
            for (const QCommandLineOption *linkOption : {&dirOption, &portOption, &forceOption}) {
                if (parser.isSet(*linkOption))
                    throw std::runtime_error(
                        QStringLiteral("--%1 names the pseudo-terminal's link; with --tcp "
                                       "the link is socat's")
                            .arg(linkOption->names().first())
                            .toStdString());
            }
            options.tcpPort = static_cast<quint16>(port);
            options.tcpHost = parser.value(tcpHostOption);
        } else if (parser.isSet(tcpHostOption)) {
            throw std::runtime_error("--tcp-host needs --tcp");
        }
        if (parser.isSet(seedOption)) {
            const uint seed = parser.value(seedOption).toUInt(&ok);
            if (!ok)
                throw std::runtime_error(QStringLiteral("--seed: '%1' is not a number")
                                             .arg(parser.value(seedOption))
                                             .toStdString());
            options.seed = seed;
        }
    } catch (const std::exception &e) {
        PrintText(stderr, QStringLiteral("corvalink-radiosim: %1\n").arg(QString::fromUtf8(e.what())));
        return 2;
    }

    try {
        RadioSim sim(options);
        return sim.Run();
    } catch (const std::exception &e) {
        PrintText(stderr, QStringLiteral("corvalink-radiosim: %1\n").arg(QString::fromUtf8(e.what())));
        return 1;
    }
}
