#include "db/Drivers.h"

#include "db/ConnectFailure.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace Oracle
{

namespace
{

const OdbcEntry* find(const QList<OdbcEntry>& installed, OdbcEntry::Kind kind, const QString& name)
{
    for (const OdbcEntry& entry : installed)
        if (entry.kind == kind && entry.name == name)
            return &entry;
    return nullptr;
}

DriverFamily familyOfName(const QString& name)
{
    if (name == DefaultDriver)
        return DriverFamily::Default;
    if (HoldsAny(name, {"postgres", "psql"}))
        return DriverFamily::PostgreSQL;
    if (HoldsAny(name, {"mariadb", "mysql"}))
        return DriverFamily::MariaDB;
    if (HoldsAny(name, {"sqlite"}))
        return DriverFamily::SQLite;
    if (HoldsAny(name, {"oracle"}))
        return DriverFamily::Oracle;
    return DriverFamily::Other;
}

// psqlodbcw.so, libmaodbc.so, libmyodbc8w.so, libsqlite3odbc.so, libsqora.so.21.1
DriverFamily familyOfLibrary(const QString& path)
{
    const QString file = QFileInfo(path).fileName();
    if (HoldsAny(file, {"psqlodbc"}))
        return DriverFamily::PostgreSQL;
    if (HoldsAny(file, {"maodbc", "myodbc"}))
        return DriverFamily::MariaDB;
    if (HoldsAny(file, {"sqlite"}))
        return DriverFamily::SQLite;
    if (HoldsAny(file, {"sqora"}))
        return DriverFamily::Oracle;
    return DriverFamily::Other;
}

// The library among a driver's attributes ("Driver=/usr/lib/...;Setup=...").
QString libraryOf(const QString& attributes)
{
    for (const QString& attribute : attributes.split(u';')) {
        const qsizetype equals = attribute.indexOf(u'=');
        if (equals > 0 &&
            attribute.left(equals).trimmed().compare(u"Driver", Qt::CaseInsensitive) == 0)
            return attribute.mid(equals + 1).trimmed();
    }
    return {};
}

// A driver by its name (or a data source's driver by its library's path).
DriverFamily familyOfDriver(const QString& name, const QList<OdbcEntry>& installed)
{
    const DriverFamily named = familyOfName(name);
    if (named != DriverFamily::Other)
        return named;
    if (const OdbcEntry* driver = find(installed, OdbcEntry::Kind::Driver, name))
        return familyOfLibrary(libraryOf(driver->description));
    return familyOfLibrary(name);
}

// A SID host[:port]/database as Server=, Port= and Database=; any other
// as it stands in Server=.
QStringList serverAttributes(const QString& sid)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^([^;:/{}=\s]+)(?::(\d{1,5}))?/([^;]+)$)"));
    const QRegularExpressionMatch parts = form.match(sid);
    if (!parts.hasMatch())
        return {QStringLiteral("Server=") + sid};
    QStringList attributes{QStringLiteral("Server=") + parts.captured(1)};
    if (!parts.captured(2).isEmpty())
        attributes << QStringLiteral("Port=") + parts.captured(2);
    attributes << QStringLiteral("Database=") + ConnectionValue(parts.captured(3));
    return attributes;
}

} // namespace

QString ConnectionValue(const QString& value)
{
    const bool braced = value.contains(u';') || value.contains(u'{') || value.contains(u'}') ||
                        value.contains(u'=') || value.startsWith(u' ') || value.endsWith(u' ');
    if (!braced)
        return value;
    QString inner = value;
    inner.replace(u'}', QStringLiteral("}}"));
    return u'{' + inner + u'}';
}

DriverFamily FamilyOf(const QString& name, const QList<OdbcEntry>& installed)
{
    if (!find(installed, OdbcEntry::Kind::Driver, name))
        if (const OdbcEntry* source = find(installed, OdbcEntry::Kind::DataSource, name))
            return familyOfDriver(source->description, installed);
    return familyOfDriver(name, installed);
}

QString DriverConnectionString(const Logon& logon, const QList<OdbcEntry>& installed)
{
    const QString name = DriverName(logon.driver);
    const bool dataSource = !find(installed, OdbcEntry::Kind::Driver, name) &&
                            find(installed, OdbcEntry::Kind::DataSource, name);
    const DriverFamily family = FamilyOf(name, installed);
    QStringList fromSid;
    QStringList tail;
    switch (family) {
    case DriverFamily::PostgreSQL:
        fromSid = serverAttributes(logon.sid);
        break;
    case DriverFamily::MariaDB:
        fromSid = serverAttributes(logon.sid);
        tail = QStringList{QStringLiteral("CHARSET=utf8mb4"), QStringLiteral("OPTION=2")};
        break;
    case DriverFamily::SQLite:
        fromSid = QStringList{QStringLiteral("Database=") + logon.sid, QStringLiteral("NoCreat=1")};
        break;
    case DriverFamily::Oracle:
        fromSid = QStringList{QStringLiteral("DBQ=") + logon.sid};
        break;
    case DriverFamily::Default:
    case DriverFamily::Other:
        fromSid = QStringList{QStringLiteral("Server=") + logon.sid};
        break;
    }
    const QStringList credentials{QStringLiteral("Uid=") + ConnectionValue(logon.user),
                                  QStringLiteral("Pwd=") + ConnectionValue(logon.password)};
    QStringList attributes;
    if (dataSource) {
        // Not between braces where it need not be: psqlODBC looks the data
        // source up by the name as written, braces and all.
        attributes << QStringLiteral("DSN=") + ConnectionValue(name) << credentials;
        if (!logon.sid.isEmpty())
            attributes << fromSid;
    } else {
        attributes << QStringLiteral("Driver={%1}").arg(name) << fromSid;
        if (family != DriverFamily::SQLite) // a file has no users
            attributes << credentials;
    }
    attributes << tail;
    const QString text = attributes.join(u';');
    return family == DriverFamily::MariaDB ? text : text + u';';
}

} // namespace Oracle
