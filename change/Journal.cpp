#include "change/Journal.h"

#include "app/RuntimeError.h"
#include "change/RowWriter.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QStandardPaths>

namespace
{

QString uniqueConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("quorvane-journal-%1").arg(++counter);
}

// A row key is a list of texts, written here as a JSON array without the
// round trip through QJsonDocument; other lists take that way.
QString toJson(const QVariantList& values)
{
    QString json(1, u'[');
    for (const QVariant& value : values) {
        if (value.metaType().id() != QMetaType::QString)
            return QString::fromUtf8(
                QJsonDocument(QJsonArray::fromVariantList(values)).toJson(QJsonDocument::Compact));
        if (json.size() > 1)
            json += u',';
        json += u'"';
        for (const QChar c : value.toString()) {
            switch (c.unicode()) {
            case u'"':
                json += QLatin1String("\\\"");
                break;
            case u'\\':
                json += QLatin1String("\\\\");
                break;
            default:
                if (c.unicode() < 0x20)
                    json += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
                else
                    json += c;
            }
        }
        json += u'"';
    }
    return json + u']';
}

QVariantList fromJson(const QString& json)
{
    return QJsonDocument::fromJson(json.toUtf8()).array().toVariantList();
}

// The journal's layout; a journal of a later layout is not touched.
constexpr int Version = 1;

const char* const StateNames[] = {"pending", "written", "failed", "conflict", "restored"};

QString stateName(Journal::RowState state)
{
    return QString::fromLatin1(StateNames[static_cast<int>(state)]);
}

[[noreturn]] void fail(const QString& what, const QSqlError& error)
{
    throw RuntimeError(RuntimeError::FileAccessError,
                       QStringLiteral("The change journal %1: %2").arg(what, error.text()));
}

} // namespace

QString Journal::DefaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Brenlow/Quorvane/journal.sqlite");
}

Journal::Journal(const QString& path) : m_path(path), m_name(uniqueConnectionName())
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_database.setDatabaseName(path);
    if (!m_database.open())
        fail(QStringLiteral("cannot be opened (%1)").arg(path), m_database.lastError());
    // Write-ahead: each commit survives the program's crash without waiting
    // for the disk.
    exec(QStringLiteral("PRAGMA journal_mode = WAL"));
    exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
    exec(QStringLiteral("PRAGMA foreign_keys = ON"));
    QSqlQuery version = exec(QStringLiteral("PRAGMA user_version"));
    if (version.next() && version.value(0).toInt() > Version)
        throw RuntimeError(
            RuntimeError::FileAccessError,
            QStringLiteral("The change journal %1 was made by a newer Quorvane.").arg(path));
    exec(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS runs (id INTEGER PRIMARY KEY, started TEXT NOT NULL, "
        "sid TEXT NOT NULL, user TEXT NOT NULL, tbl TEXT NOT NULL, field TEXT NOT NULL, "
        "operation TEXT NOT NULL, answers TEXT NOT NULL, rows INTEGER NOT NULL DEFAULT 0, "
        "changed INTEGER NOT NULL DEFAULT 0, failed INTEGER NOT NULL DEFAULT 0, "
        "conflicts INTEGER NOT NULL DEFAULT 0, state TEXT NOT NULL, "
        "undone INTEGER NOT NULL DEFAULT 0)"));
    exec(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS rows (id INTEGER PRIMARY KEY, "
        "run INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE, key TEXT NOT NULL, "
        "key_before TEXT NOT NULL, "
        "old TEXT NOT NULL, new TEXT NOT NULL, state TEXT NOT NULL)"));
    exec(QStringLiteral("CREATE INDEX IF NOT EXISTS rows_of_run ON rows (run, id)"));
    exec(QStringLiteral("PRAGMA user_version = %1").arg(Version));
}

Journal::~Journal()
{
    m_insertChunk.reset();
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

QSqlQuery Journal::exec(const QString& statement, const QVariantList& values)
{
    QSqlQuery query(m_database);
    query.setForwardOnly(true);
    bool ok = query.prepare(statement);
    for (int i = 0; ok && i < values.size(); ++i)
        query.bindValue(i, values.at(i));
    if (!ok || !query.exec())
        fail(QStringLiteral("cannot be written"), query.lastError());
    return query;
}

qint64 Journal::beginRun(const Run& run)
{
    const QSqlQuery query =
        exec(QStringLiteral("INSERT INTO runs (started, sid, user, tbl, field, operation, answers, "
                            "rows, state) VALUES (?, ?, ?, ?, ?, ?, ?, ?, 'running')"),
             {run.started.toUTC().toString(Qt::ISODateWithMs), run.sid, run.user, run.table,
              run.field, run.operation, toJson(QVariant(run.answers).toList()), run.rows});
    return query.lastInsertId().toLongLong();
}

template <class Work> void Journal::inTransaction(Work&& work)
{
    if (!m_database.transaction())
        fail(QStringLiteral("cannot be written"), m_database.lastError());
    try {
        work();
    } catch (...) {
        m_database.rollback();
        throw;
    }
    if (!m_database.commit()) {
        const QSqlError error = m_database.lastError();
        m_database.rollback();
        fail(QStringLiteral("cannot be written"), error);
    }
}

QList<qint64> Journal::addRows(qint64 run, const QList<Change>& changes)
{
    // Rows go in many to a statement, each with an id of its own counted on
    // from the highest, which no other writer can take while the
    // transaction holds the journal.
    auto insertOf = [](qsizetype rows) {
        QStringList values(rows, QStringLiteral("(?, ?, ?, ?)"));
        return QStringLiteral("INSERT INTO rows (id, run, key, key_before, old, new, state) "
                              "SELECT column1, ?, column2, column2, column3, column4, 'pending' "
                              "FROM (VALUES %1)")
            .arg(values.join(u", "));
    };
    QList<qint64> ids;
    ids.reserve(changes.size());
    inTransaction([&] {
        QSqlQuery highest = exec(QStringLiteral("SELECT coalesce(max(id), 0) FROM rows"));
        qint64 next = (highest.next() ? highest.value(0).toLongLong() : 0) + 1;
        for (qsizetype from = 0; from < changes.size(); from += InsertChunk) {
            const qsizetype rows = qMin(InsertChunk, changes.size() - from);
            std::optional<QSqlQuery> partial;
            if (rows < InsertChunk)
                partial.emplace(m_database);
            else if (!m_insertChunk)
                m_insertChunk.emplace(m_database);
            QSqlQuery& query = partial ? *partial : *m_insertChunk;
            if ((partial || !m_insertChunkReady) && !query.prepare(insertOf(rows)))
                fail(QStringLiteral("cannot be written"), query.lastError());
            m_insertChunkReady = m_insertChunkReady || !partial;
            int at = 0;
            query.bindValue(at++, run);
            for (qsizetype i = from; i < from + rows; ++i) {
                const Change& change = changes.at(i);
                ids << next;
                query.bindValue(at++, next++);
                query.bindValue(at++, toJson(change.key));
                query.bindValue(at++, change.oldValue);
                query.bindValue(at++, change.newValue);
            }
            if (!query.exec())
                fail(QStringLiteral("cannot be written"), query.lastError());
            query.finish();
        }
    });
    return ids;
}

void Journal::markRows(const QList<Mark>& marks)
{
    if (marks.isEmpty())
        return;
    inTransaction([&] {
        QSqlQuery state(m_database);
        QSqlQuery stateAndKey(m_database);
        if (!state.prepare(QStringLiteral("UPDATE rows SET state = ? WHERE id = ?")) ||
            !stateAndKey.prepare(QStringLiteral("UPDATE rows SET state = ?, key = ? WHERE id = ?")))
            fail(QStringLiteral("cannot be written"), state.lastError());
        for (const Mark& mark : marks) {
            QSqlQuery& query = mark.key.isEmpty() ? state : stateAndKey;
            int at = 0;
            query.bindValue(at++, stateName(mark.state));
            if (!mark.key.isEmpty())
                query.bindValue(at++, toJson(mark.key));
            query.bindValue(at, mark.row);
            if (!query.exec())
                fail(QStringLiteral("cannot be written"), query.lastError());
        }
    });
}

void Journal::endRun(qint64 run, int rows, int changed, int failed, int conflicts,
                     const QString& state)
{
    exec(QStringLiteral("UPDATE runs SET rows = ?, changed = ?, failed = ?, conflicts = ?, "
                        "state = ? WHERE id = ?"),
         {rows, changed, failed, conflicts, state, run});
}

void Journal::markUndone(qint64 run)
{
    exec(QStringLiteral("UPDATE runs SET undone = 1 WHERE id = ?"), {run});
}

QList<Journal::Run> Journal::runs()
{
    QSqlQuery query = exec(QStringLiteral(
        "SELECT id, started, sid, user, tbl, field, operation, answers, rows, changed, failed, "
        "conflicts, state, undone FROM runs ORDER BY id DESC"));
    QList<Run> runs;
    while (query.next()) {
        Run run;
        run.id = query.value(0).toLongLong();
        run.started = QDateTime::fromString(query.value(1).toString(), Qt::ISODateWithMs);
        run.sid = query.value(2).toString();
        run.user = query.value(3).toString();
        run.table = query.value(4).toString();
        run.field = query.value(5).toString();
        run.operation = query.value(6).toString();
        run.answers = QVariant(fromJson(query.value(7).toString())).toStringList();
        run.rows = query.value(8).toInt();
        run.changed = query.value(9).toInt();
        run.failed = query.value(10).toInt();
        run.conflicts = query.value(11).toInt();
        run.state = query.value(12).toString();
        run.undone = query.value(13).toBool();
        runs << run;
    }
    return runs;
}

std::optional<Journal::Run> Journal::run(qint64 id)
{
    for (const Run& run : runs())
        if (run.id == id)
            return run;
    return std::nullopt;
}

QList<Journal::Row> Journal::rowsToUndo(qint64 run)
{
    QSqlQuery query =
        exec(QStringLiteral("SELECT id, key, old, new, key_before FROM rows WHERE run = ? "
                            "AND state IN ('pending', 'written') ORDER BY id DESC"),
             {run});
    QList<Row> rows;
    while (query.next()) {
        Row row;
        row.id = query.value(0).toLongLong();
        row.key = fromJson(query.value(1).toString());
        row.oldValue = query.value(2).toString();
        row.newValue = query.value(3).toString();
        row.keyBefore = fromJson(query.value(4).toString());
        rows << row;
    }
    return rows;
}

void Journal::prune()
{
    exec(QStringLiteral("DELETE FROM runs WHERE id NOT IN (SELECT id FROM runs ORDER BY id DESC "
                        "LIMIT ?)"),
         {KeptRuns});
}
