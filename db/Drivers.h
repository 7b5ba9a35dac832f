#pragma once

#include "db/Oracle.h"

#include <QList>
#include <QString>

// The families of ODBC drivers the program knows, each with its own
// connection string and its own form of the SID.
namespace Oracle
{

enum class DriverFamily {
    Default,    // "Microsoft ODBC for Oracle": Server=SID
    Oracle,     // Oracle's own driver: DBQ=SID, a TNS name or host:port/service
    PostgreSQL, // psqlODBC: host[:port]/database
    MariaDB,    // MariaDB's (or MySQL's) Connector/ODBC: host[:port]/database
    SQLite,     // the SQLite ODBC driver: the database file's path
    Other,      // any other driver: Server=SID
};

// The family of an installed driver, or of a configured data source's
// driver, told by the driver's name or, where the name tells nothing, by
// the library the driver manager lists for it. A name not listed is taken
// as a driver's.
DriverFamily FamilyOf(const QString& name, const QList<OdbcEntry>& installed);

// The connection string of the logon's driver or data source as its family
// takes it (no template):
//   Driver={NAME};<what the SID gives>;Uid=USER;Pwd=PASSWORD;
//   DSN=NAME;Uid=USER;Pwd=PASSWORD;<what the SID gives, where given>;
// PostgreSQL and MariaDB: a SID host[:port]/database gives Server=, Port=
// and Database=; any other SID goes in as it stands in Server=. MariaDB adds
// CHARSET=utf8mb4 (text outside the BMP) and OPTION=2 (rows matched are the
// rows counted, also where an UPDATE leaves the value as it was), and its
// string ends without ';', which Connector/ODBC refuses through the
// wide-character API. SQLite: Database=SID;NoCreat=1 (a file that is
// missing is an error), without user name and password. Oracle's own
// driver: DBQ=SID. The default driver and any other: Server=SID.
QString DriverConnectionString(const Logon& logon, const QList<OdbcEntry>& installed);

// An attribute value as a connection string must hold it: between braces,
// every '}' doubled, when it holds ';', '{', '}' or '=' or begins or ends
// with a blank; otherwise exactly as it stands.
QString ConnectionValue(const QString& value);

} // namespace Oracle
