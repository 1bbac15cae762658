#pragma once

#include "Convert.h"
#include "TableCursor.h"

#include <QString>

// A radio is addressed by Fleet (0, or 100..349) and Ident (0, or 1000..4999);
// frames carry them as 3 and 4 zero-padded digits. The validators take the
// texts as a Fleet or Ident box shows them and throw EConvertError for a text
// that is not a whole number.
bool IsValidFleet(const QString &fleet);
bool IsValidIdent(const QString &ident);

QString ZeroPad3(int value);
QString ZeroPad4(int value);

// The most entries the user directory holds; lookups stop adding stations there.
inline constexpr int MaxUserEntries = 10;

// The display name of a station: the Name of its first entry in the user table,
// else (no entry, or an empty Name) Fleet + "-" + Ident as the texts were given.
// A station without an entry is appended to the table while it holds fewer than
// MaxUserEntries rows. Moves the table's current row. Conversion and table errors
// propagate.
QString LookupStationName(ITableCursor &users, const QString &fleet, const QString &ident);
