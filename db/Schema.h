#pragma once

#include "db/Oracle.h"

#include <QStringList>
#include <functional>

// The schema browser: the user's tables, a table's fields and the first
// values of a field, each read over a connection of its own.
namespace Oracle
{

// Called between entries so that the windows can repaint; may be empty. It
// may throw to abandon the fill (the connection is let go on the way out).
using LetEventsRun = std::function<void()>;

// The preview shows at most this many values (the first 101 rows).
constexpr int PreviewLimit = 101;

// The names of the user's tables, in the order the database returns them.
QStringList ListTables(const Logon& logon, const LetEventsRun& letEventsRun = {});

// The table's column names in the order of its full query; no row is read.
QStringList ListFields(const Logon& logon, const QString& table,
                       const LetEventsRun& letEventsRun = {});
// The same names, from a query that reads no row (whatever the driver's
// options, nothing of the table is fetched).
QStringList FieldNames(const Logon& logon, const QString& table);

// The field's first values (at most 101), a Null as the empty text.
QStringList Preview(const Logon& logon, const QString& table, const QString& field,
                    const LetEventsRun& letEventsRun = {});

// How the table's rows are named (and the field's values compared), asked of
// the database as its dialect says.
Db::RowKey ReadRowKey(Connection& connection, const QString& table, const QString& field);

} // namespace Oracle
