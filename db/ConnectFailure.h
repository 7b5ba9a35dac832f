#pragma once

#include <QString>

namespace Oracle
{

// Why a connection could not be opened, as far as the driver manager's or
// the driver's message tells (their diagnostics reach the program as text
// only): PostgreSQL's, MariaDB's and MySQL's, Oracle's, SQLite's and
// unixODBC's own words.
enum class ConnectFailure {
    Unknown,
    DriverMissing,   // not installed, or not registered under the name asked for
    WrongLogon,      // the user name or the password
    UnknownDatabase, // no such database (or service) on the server
    Unreachable,     // no server answers there (or the file cannot be opened)
};

ConnectFailure ClassifyConnectFailure(const QString& driverMessage);

// The cause for the person at the keyboard, one or two sentences; empty
// where it is not known.
QString ConnectFailureCause(const QString& driverMessage);

} // namespace Oracle
