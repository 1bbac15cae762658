#pragma once

#include "RadioLine.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// A working directory for one console: copies of the sample tables, a settings
// file and COM1..COM4 entries. A port given a radio links to a pseudo-terminal
// whose other end is kept here; a free port is left for another program to
// link (the simulator makes its own); every other COMn links to nowhere, so the
// machine's own /dev/ttyS* never stand in for a radio.
class TScratchDir final {
public:
    TScratchDir() = default;
    // Puts back the working directory that was current before MakeCurrent.
    ~TScratchDir();
    TScratchDir(const TScratchDir &) = delete;
    TScratchDir &operator=(const TScratchDir &) = delete;

    // Empty when the directory is ready, else what failed. A null ini writes no
    // settings file.
    QString Prepare(const QByteArray &ini, const QList<int> &radioPorts, const QList<int> &freePorts = {});
    bool MakeCurrent();
    // Back to the directory that was current before MakeCurrent.
    void RestoreCurrent();

    // The settings file's text for a port and popup flags.
    static QByteArray Settings(int comPort, unsigned popupFlags);

    // The adapter plugged back in: a new line linked as COMn in place of the
    // old one. Empty when that worked, else what failed.
    QString Replug(int port);
    // The radio's end of COMn; null for a port without a radio.
    TRadioLine *Line(int port) const;

    QString Path() const { return dir_.path(); }
    QString Path(const QString &name) const;
    bool WriteFile(const QString &name, const QByteArray &bytes) const;
    QByteArray ReadFile(const QString &name) const;

private:
    QTemporaryDir dir_;
    QString oldDir_;
    std::unique_ptr<TRadioLine> lines_[5];
};

// One radio line linked as COM1 in a scratch directory that is the working
// directory while it lives: for tests of the port without the console's files.
struct TRadioDir {
    TScratchDir dir;
    TRadioLine &radio;
    TRadioDir();
};
