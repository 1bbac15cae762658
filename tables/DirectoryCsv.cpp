#include "DirectoryCsv.h"

#include "SaveFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString Shown(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName);
}

[[noreturn]] void FailAt(const QString &fileName, int line, const QString &what)
{
    throw EDirectoryFileError(
        QStringLiteral("File \"%1\", line %2: %3").arg(Shown(fileName)).arg(line).arg(what).toStdString());
}

[[noreturn]] void FailFile(const QString &fileName, const QString &what)
{
    throw EDirectoryFileError(QStringLiteral("File \"%1\" %2").arg(Shown(fileName), what).toStdString());
}

// A line of the file as an error message may quote it: short, one line, printable.
QString Excerpt(const QString &text)
{
    QString shown = text.left(60);
    for (QChar &c : shown) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QChar(0xFFFD);
    }
    if (text.size() > 60)
        shown += QStringLiteral("…");
    return shown;
}

// UTF-16 is what some editors save "Unicode text" as: a byte order mark, or every
// other byte zero in the first line.
bool LooksUtf16(const QByteArray &data)
{
    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF"))
        return true;
    const qsizetype n = std::min<qsizetype>(data.size() & ~qsizetype(1), 64);
    if (n < 4)
        return false;
    int evenZeros = 0, oddZeros = 0;
    for (qsizetype i = 0; i < n; i += 2) {
        evenZeros += data[i] == '\0' ? 1 : 0;
        oddZeros += data[i + 1] == '\0' ? 1 : 0;
    }
    return std::max(evenZeros, oddZeros) * 4 >= n && std::min(evenZeros, oddZeros) == 0;
}

bool IsUsers(const TTableDef &def)
{
    return def.table == UserTableDef().table;
}

QString Decode(const QByteArray &data, const QString &fileName)
{
    if (LooksUtf16(data))
        FailFile(fileName, QStringLiteral("is UTF-16 text; save it as UTF-8"));
    const qsizetype zero = data.indexOf('\0');
    if (zero >= 0)
        FailAt(fileName, static_cast<int>(data.left(zero).count('\n')) + 1,
               QStringLiteral("holds a zero byte; this is a binary file, not CSV text"));
    // Text that is not UTF-8 decodes with replacement characters and so does not come back
    // the same.
    QString text = QString::fromUtf8(data);
    if (text.toUtf8() == data)
        return text;
    // Line feeds never occur inside a UTF-8 sequence, so the lines can be checked one by one.
    int line = 1;
    for (const QByteArray &part : data.split('\n')) {
        if (QString::fromUtf8(part).toUtf8() != part)
            break;
        ++line;
    }
    FailAt(fileName, line, QStringLiteral("is not UTF-8 text"));
}

} // namespace

QList<TCsvRecord> ParseCsv(const QByteArray &data, const QString &fileName, const TCsvLimits &limits)
{
    QByteArray bytes = data;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const QString text = Decode(bytes, fileName);

    enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted };
    QList<TCsvRecord> records;
    QStringList fields;
    QString field;
    State state = State::FieldStart;
    int line = 1;
    int recordLine = 1;
    bool started = false; // the record holds something, if only a quoted empty field
    int fieldCount = 0;
    const auto keep = [&](const QString &f) {
        if (limits.maxFields < 0 || fieldCount < limits.maxFields)
            fields << f;
        ++fieldCount;
    };
    const auto close = [&](int at) {
        if (limits.maxRecords >= 0 && records.size() >= limits.maxRecords)
            throw ECsvTooManyRecords(QStringLiteral("File \"%1\" holds more than %2 records")
                                         .arg(Shown(fileName))
                                         .arg(limits.maxRecords)
                                         .toStdString());
        records.append({at, fields, fieldCount});
    };

    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        const bool lineEnd = c == QLatin1Char('\n') || c == QLatin1Char('\r');
        // CR LF is one line end.
        const bool crlf = c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n');
        if (state == State::Quoted) {
            if (c == QLatin1Char('"')) {
                state = State::QuoteInQuoted;
            } else {
                field += c;
                if (lineEnd && !crlf)
                    ++line;
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            if (state == State::FieldStart) {
                state = State::Quoted;
                started = true;
            } else if (state == State::QuoteInQuoted) {
                field += c;
                state = State::Quoted;
            } else {
                FailAt(fileName, line,
                       QStringLiteral("a quote inside a field that does not start with one (write it as \"\" "
                                      "inside a quoted field)"));
            }
            continue;
        }
        if (c == QLatin1Char(',')) {
            keep(field);
            field.clear();
            state = State::FieldStart;
            started = true;
            continue;
        }
        if (lineEnd) {
            if (crlf)
                ++i;
            if (started || !field.isEmpty()) {
                keep(field);
                close(recordLine);
            }
            fields.clear();
            fieldCount = 0;
            field.clear();
            state = State::FieldStart;
            started = false;
            recordLine = ++line;
            continue;
        }
        if (state == State::QuoteInQuoted)
            FailAt(fileName, line, QStringLiteral("text after the closing quote of a field"));
        field += c;
        state = State::Unquoted;
        started = true;
    }
    if (state == State::Quoted)
        FailAt(fileName, recordLine,
               QStringLiteral("a quoted field is not closed before the end of the file"));
    if (started || !field.isEmpty()) {
        keep(field);
        close(recordLine);
    }
    return records;
}

QByteArray FormatCsv(const QList<QStringList> &records)
{
    QString out;
    for (const QStringList &record : records) {
        QStringList fields;
        for (const QString &f : record) {
            if (f.contains(QLatin1Char(',')) || f.contains(QLatin1Char('"')) ||
                f.contains(QLatin1Char('\n')) || f.contains(QLatin1Char('\r'))) {
                QString quoted = f;
                quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
                fields << QLatin1Char('"') + quoted + QLatin1Char('"');
            } else {
                fields << f;
            }
        }
        out += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

QStringList CsvHeader(const TTableDef &def)
{
    QStringList names;
    for (const auto &f : def.fields)
        names << f.name;
    return names;
}

QList<TCsvRecord> ReadDirectoryFile(const QString &fileName, const TTableDef &def)
{
    if (QFileInfo(fileName).isDir())
        FailFile(fileName, QStringLiteral("is a folder, not a file"));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        FailFile(fileName, QStringLiteral("cannot be read: %1").arg(file.errorString()));
    // Checked before reading: a wrong pick (a disk image, a log) must not fill the memory.
    const qint64 size = file.size();
    if (size > MaxDirectoryFileSize)
        FailFile(fileName, QStringLiteral("is too large for a directory file (%1 MB; at most %2 MB)")
                               .arg(static_cast<double>(size) / (1024 * 1024), 0, 'f', 1)
                               .arg(MaxDirectoryFileSize / (1024 * 1024)));
    const QByteArray data = file.read(MaxDirectoryFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        FailFile(fileName, QStringLiteral("cannot be read: %1").arg(file.errorString()));
    if (data.size() > MaxDirectoryFileSize)
        FailFile(fileName, QStringLiteral("is too large for a directory file (more than %1 MB)")
                               .arg(MaxDirectoryFileSize / (1024 * 1024)));

    const QString header = CsvHeader(def).join(QLatin1Char(','));
    QList<TCsvRecord> records;
    // One record more than a table holds, for the header; a field more than it has, so
    // that a record with too many fields still shows as such.
    const qsizetype maxRecords = MaxFileRecords(def);
    try {
        records = ParseCsv(data, fileName, {maxRecords + 1, int(def.fields.size()) + 1});
    } catch (const ECsvTooManyRecords &) {
        FailFile(fileName,
                 QStringLiteral("holds more than %1 records: %2")
                     .arg(maxRecords)
                     .arg(IsUsers(def) ? QStringLiteral("the user directory holds at most 10 stations")
                                       : QStringLiteral("there are no more status numbers")));
    }
    if (records.isEmpty())
        FailFile(fileName, QStringLiteral("is empty; it must start with the line %1").arg(header));
    const TCsvRecord first = records.takeFirst();
    if (first.fields != CsvHeader(def))
        FailAt(fileName, first.line,
               QStringLiteral("the first line must be the header %1, not %2")
                   .arg(header, Excerpt(first.fields.join(QLatin1Char(',')))));
    for (TCsvRecord &r : records) {
        for (int f = 0; f < r.fields.size() && f < def.fields.size(); ++f) {
            if (def.fields.at(f).type == FieldType::Text)
                r.fields[f] = RestoreCell(r.fields.at(f));
        }
    }
    return records;
}

void WriteDirectoryFile(const QString &fileName, const TTableDef &def, const QList<QStringList> &rows)
{
    QList<QStringList> records{CsvHeader(def)};
    for (QStringList row : rows) {
        for (int f = 0; f < row.size() && f < def.fields.size(); ++f) {
            if (def.fields.at(f).type == FieldType::Text)
                row[f] = NeutraliseCell(row.at(f));
        }
        records << row;
    }
    const QByteArray bytes = FormatCsv(records);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        FailFile(fileName, QStringLiteral("cannot be written: %1").arg(file.errorString()));
    // A short write leaves its reason in the file's error, which FinishSaveFile reports.
    file.write(bytes);
    if (const QString reason = FinishSaveFile(file); !reason.isEmpty())
        FailFile(fileName, QStringLiteral("cannot be written: %1").arg(reason));
}

namespace {

// What a spreadsheet takes for the start of a formula. A text that already starts
// with apostrophes before one gets another, so that the one taken off on import is
// always the one put on here.
bool RunsAsFormula(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char('\''))
        ++i;
    if (i == text.size())
        return false;
    const char16_t c = text.at(i).unicode();
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

} // namespace

QString NeutraliseCell(const QString &text)
{
    return RunsAsFormula(text) ? QLatin1Char('\'') + text : text;
}

QString RestoreCell(const QString &text)
{
    return text.startsWith(QLatin1Char('\'')) && RunsAsFormula(text.mid(1)) ? text.mid(1) : text;
}

qsizetype MaxFileRecords(const TTableDef &def)
{
    return IsUsers(def) ? 1000 : 65536;
}

QList<QStringList> TableTexts(const TTable &table)
{
    QList<QStringList> rows;
    const int fields = static_cast<int>(table.Definition().fields.size());
    // An appended row that is still pending is not in the table yet.
    const int written = table.RowCount() - (table.Inserting() ? 1 : 0);
    for (int r = 0; r < written; ++r) {
        QStringList texts;
        for (int f = 0; f < fields; ++f)
            texts << table.FieldText(r, f);
        rows << texts;
    }
    return rows;
}
