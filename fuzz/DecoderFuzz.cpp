#include "DecoderFuzz.h"

#include "Convert.h"
#include "Frame.h"
#include "FrameIntake.h"
#include "MemoryTable.h"
#include "PopupDispatch.h"
#include "Recorders.h"
#include "StationId.h"

#include <exception>

QString CheckDecoderInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return {};
    // The first byte sets the read size (1..64 bytes), so splits are explored too.
    const qsizetype step = (data[0] & 0x3F) + 1;
    const QByteArrayView stream(reinterpret_cast<const char *>(data) + 1, static_cast<qsizetype>(size - 1));

    TMemoryTable users = TMemoryTable::Users();
    users.AddRow({"Yard", "100", "1000"});
    users.AddRow({"", "101", "1001"});
    TMemoryTable statuses = TMemoryTable::Statuses();
    statuses.AddRow({"5", "On scene"});
    statuses.AddRow({"95", "Man down"});
    TCountingHost host;
    TCountingLog log;
    TFrameIntake intake;

    for (qsizetype off = 0; off < stream.size(); off += step) {
        const QList<QByteArray> frames = intake.Feed(stream.sliced(off, std::min(step, stream.size() - off)));
        for (const QByteArray &frame : frames) {
            if (frame.size() < 2 || frame.front() != STX || frame.back() != ETX ||
                frame.size() > TFrameIntake::MaxFrameSize || frame.indexOf(STX, 1) >= 0 ||
                frame.indexOf(ETX) != frame.size() - 1)
                return QStringLiteral("malformed frame from intake: ") + QString::fromLatin1(frame.toHex());
            try {
                ApplyDecodeResult(DecodeReceivedFrame(frame, users, statuses, QStringLiteral("00:00:00")),
                                  host, 0xFF, log);
            } catch (const EConvertError &) {
                // A field that is not a number: reported to the operator, not a fault.
            } catch (const std::exception &e) {
                return QStringLiteral("unexpected exception: ") + QString::fromUtf8(e.what());
            }
        }
        if (intake.PendingSize() >= TFrameIntake::MaxFrameSize)
            return QStringLiteral("intake holds %1 bytes").arg(intake.PendingSize());
    }
    if (users.RecordCount() > MaxUserEntries)
        return QStringLiteral("user table grew to %1 rows").arg(users.RecordCount());
    return {};
}
