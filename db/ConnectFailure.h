#pragma once

#include <QString>
#include <initializer_list>

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

// True when `text` holds one of `parts`, ignoring case: how driver messages
// and driver names are told apart.
bool HoldsAny(const QString& text, std::initializer_list<const char*> parts);

// The cause for the person at the keyboard, one or two sentences; empty
// where it is not known.
QString ConnectFailureCause(const QString& driverMessage);

} // namespace Oracle
