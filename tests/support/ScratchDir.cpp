#include "ScratchDir.h"

#include "SampleTables.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>

TScratchDir::~TScratchDir()
{
    RestoreCurrent();
}

void TScratchDir::RestoreCurrent()
{
    if (!oldDir_.isEmpty())
        QDir::setCurrent(oldDir_);
    oldDir_.clear();
}

QString TScratchDir::Prepare(const QByteArray &ini, const QList<int> &radioPorts, const QList<int> &freePorts)
{
    if (!dir_.isValid())
        return QStringLiteral("no scratch directory");
    if (!CopySampleTables(QDir(dir_.path())))
        return QStringLiteral("cannot copy the sample tables");
    if (!ini.isNull() && !WriteFile(QStringLiteral("CorvalinkDemo.ini"), ini))
        return QStringLiteral("cannot write the settings file");
    for (int n = 1; n <= 4; ++n) {
        if (radioPorts.contains(n)) {
            if (QString error = Replug(n); !error.isEmpty())
                return error;
        } else if (!freePorts.contains(n) && !QFile::link(QStringLiteral("/nonexistent/corvalink-no-port"),
                                                          Path(QStringLiteral("COM%1").arg(n)))) {
            return QStringLiteral("cannot link COM%1").arg(n);
        }
    }
    return {};
}

bool TScratchDir::MakeCurrent()
{
    const QString old = QDir::currentPath();
    if (!QDir::setCurrent(dir_.path()))
        return false;
    if (oldDir_.isEmpty())
        oldDir_ = old;
    return true;
}

QByteArray TScratchDir::Settings(int comPort, unsigned popupFlags)
{
    return QStringLiteral("COM=%1\r\nPOPUP=0x%2\r\n")
        .arg(comPort)
        .arg(popupFlags, 4, 16, QLatin1Char('0'))
        .toUpper()
        .toLatin1();
}

QString TScratchDir::Replug(int port)
{
    auto line = std::make_unique<TRadioLine>();
    if (!line->IsValid())
        return QStringLiteral("no pseudo-terminal");
    const QString link = Path(QStringLiteral("COM%1").arg(port));
    QFile::remove(link);
    if (!QFile::link(line->SlavePath(), link))
        return QStringLiteral("cannot link %1").arg(link);
    lines_[port] = std::move(line);
    return {};
}

TRadioLine *TScratchDir::Line(int port) const
{
    return port >= 1 && port <= 4 ? lines_[port].get() : nullptr;
}

QString TScratchDir::Path(const QString &name) const
{
    return QDir(dir_.path()).filePath(name);
}

bool TScratchDir::WriteFile(const QString &name, const QByteArray &bytes) const
{
    QFile f(Path(name));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray TScratchDir::ReadFile(const QString &name) const
{
    QFile f(Path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

namespace {
TRadioLine &RadioOnCom1(TScratchDir &dir)
{
    if (!dir.Prepare(QByteArray(), {1}).isEmpty() || !dir.MakeCurrent())
        qFatal("no scratch directory with a radio line");
    return *dir.Line(1);
}
} // namespace

TRadioDir::TRadioDir() : radio(RadioOnCom1(dir)) {}
