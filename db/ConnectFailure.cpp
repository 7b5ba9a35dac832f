#include "db/ConnectFailure.h"

#include <QRegularExpression>

namespace Oracle
{

ConnectFailure ClassifyConnectFailure(const QString& message)
{
    // unixODBC: IM002 ("Data source name not found"), or a driver whose
    // library is registered but missing.
    if (HoldsAny(message, {"Data source name not found", "Can't open lib", "IM002"}))
        return ConnectFailure::DriverMissing;
    if (HoldsAny(message, {"password authentication failed", "no password supplied",
                           "Access denied for user", "ORA-01017", "ORA-01005"}) ||
        (message.contains(QLatin1String("role \"")) &&
         message.contains(QLatin1String("does not exist"))))
        return ConnectFailure::WrongLogon;
    if (HoldsAny(message, {"does not exist", "Unknown database", "ORA-12514", "ORA-12154"}))
        return ConnectFailure::UnknownDatabase;
    if (HoldsAny(message, {"Connection refused", "could not connect to server",
                           "could not translate host name", "Name or service not known",
                           "timeout expired", "Connection timed out", "No route to host",
                           "Can't connect to", "Unknown server host", "ORA-12541", "ORA-12170",
                           "ORA-12543", "unable to open database file", "[SQLite]connect failed"}))
        return ConnectFailure::Unreachable;
    return ConnectFailure::Unknown;
}

bool HoldsAny(const QString& text, std::initializer_list<const char*> parts)
{
    for (const char* part : parts)
        if (text.contains(QLatin1String(part), Qt::CaseInsensitive))
            return true;
    return false;
}

QString ConnectFailureCause(const QString& message)
{
    switch (ClassifyConnectFailure(message)) {
    case ConnectFailure::DriverMissing: {
        static const QRegularExpression lib(QStringLiteral("Can't open lib '([^']*)'"));
        const QRegularExpressionMatch named = lib.match(message);
        const QString driver = named.hasMatch() ? QStringLiteral("\"%1\"").arg(named.captured(1))
                                                : QStringLiteral("asked for");
        return QStringLiteral(
                   "The ODBC driver %1 is not installed, or not registered under that name "
                   "(\"odbcinst -q -d\" lists those that are). Install your database's driver "
                   "(on Debian odbc-postgresql, odbc-mariadb or libsqliteodbc) and register it "
                   "with odbcinst.")
            .arg(driver);
    }
    case ConnectFailure::WrongLogon:
        return QStringLiteral("The user name or the password is wrong.");
    case ConnectFailure::UnknownDatabase:
        return QStringLiteral("The server has no such database.");
    case ConnectFailure::Unreachable:
        return QStringLiteral(
            "The server cannot be reached, or the database file cannot be opened.");
    case ConnectFailure::Unknown:
        break;
    }
    return {};
}

} // namespace Oracle
