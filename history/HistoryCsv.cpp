#include "HistoryCsv.h"

QByteArray CsvField(const QString &text, TCsvCells cells)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    const QString field =
        cells == TCsvCells::Neutralised && !text.isEmpty() && formulaStarts.contains(text.front())
            ? QLatin1Char('\'') + text
            : text;
    const bool quote = field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
                       field.contains(QLatin1Char('\r')) || field.contains(QLatin1Char('\n')) ||
                       (!field.isEmpty() && (field.front().isSpace() || field.back().isSpace()));
    if (!quote)
        return field.toUtf8();
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return '"' + quoted.toUtf8() + '"';
}

QByteArray CsvRecord(const QStringList &fields, TCsvCells cells)
{
    QByteArray record;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i)
            record += ',';
        record += CsvField(fields[i], cells);
    }
    record += "\r\n";
    return record;
}

bool TCsvWriter::Write(const QStringList &fields)
{
    if (!ok_)
        return false;
    const QByteArray record = CsvRecord(fields);
    ok_ = device_.write(record) == record.size();
    return ok_;
}
