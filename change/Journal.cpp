#include "change/Journal.h"

#include "app/RuntimeError.h"
#include "app/SettingsStore.h"
#include "change/Change.h"

#include <QAtomicInteger>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <limits>
#include <sys/file.h>
#include <unistd.h>

namespace
{

QString uniqueConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("quorvane-journal-%1").arg(++counter);
}

// A text as a JSON string, appended.
void appendJson(QString& json, const QString& text)
{
    json += u'"';
    const QChar* const chars = text.constData();
    const qsizetype size = text.size();
    qsizetype plain = 0; // the start of the characters not yet appended
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = chars[i].unicode();
        if (c >= 0x20 && c != u'"' && c != u'\\' && !QChar::isSurrogate(c))
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < size && chars[i + 1].isLowSurrogate()) {
            ++i; // a pair as it is
            continue;
        }
        json.append(chars + plain, i - plain);
        plain = i + 1;
        if (c == u'"' || c == u'\\') {
            json += u'\\';
            json += QChar(c);
        } else if (QChar::isSurrogate(c)) {
            // Half a pair (a transform may cut one): the replacement
            // character, as any conversion to UTF-8 gives it, rather than
            // JSON that SQLite refuses.
            json += QChar(QChar::ReplacementCharacter);
        } else {
            json += QStringLiteral("\\u%1").arg(int(c), 4, 16, QChar(u'0'));
        }
    }
    json.append(chars + plain, size - plain);
    json += u'"';
}

// A row key is a list of texts, written here as a JSON array without the
// round trip through QJsonDocument; other lists take that way.
void appendJson(QString& json, const QVariantList& values)
{
    for (const QVariant& value : values) {
        if (value.metaType().id() != QMetaType::QString) {
            json += QString::fromUtf8(
                QJsonDocument(QJsonArray::fromVariantList(values)).toJson(QJsonDocument::Compact));
            return;
        }
    }
    json += u'[';
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            json += u',';
        appendJson(json, values.at(i).toString());
    }
    json += u']';
}

// A text where there is one, else null.
void appendJson(QString& json, const std::optional<QString>& text)
{
    if (text)
        appendJson(json, *text);
    else
        json += QLatin1String("null");
}

QString toJson(const QVariantList& values)
{
    QString json;
    appendJson(json, values);
    return json;
}

QVariantList fromJson(const QString& json)
{
    // A list of texts as appendJson writes it, with no escape in it (so no
    // double quote but those around the texts), is read here: a page of an
    // undo reads thousands of keys.
    if (json.size() >= 4 && json.startsWith(QLatin1String("[\"")) &&
        json.endsWith(QLatin1String("\"]")) && !json.contains(u'\\')) {
        QVariantList values;
        bool plain = true;
        for (const QStringView part :
             QStringView(json).mid(2, json.size() - 4).split(QStringView(u"\",\""))) {
            plain = plain && !part.contains(u'"');
            values << part.toString();
        }
        if (plain)
            return values;
    }
    return QJsonDocument::fromJson(json.toUtf8()).array().toVariantList();
}

// The journal's layout; a journal of a later layout is not touched.
// 2: rows an undo left alone are "kept", rows it is writing back "undoing".
// 3: a run keeps the names of the columns its rows were named by.
// 4: a row named by its address keeps the digest of its other columns.
constexpr int Version = 4;

const char* const StateNames[] = {"pending",  "written", "failed", "conflict",
                                  "restored", "undoing", "kept"};

// The states no write changes again; the condition is the partial index's,
// word for word, so that counts by state read the index alone.
const char FinalStates[] = "state IN ('failed', 'conflict', 'restored', 'kept')";

Journal::RowState stateOf(const QString& name)
{
    for (int i = 0; i < int(std::size(StateNames)); ++i)
        if (name == QLatin1String(StateNames[i]))
            return static_cast<Journal::RowState>(i);
    return Journal::RowState::Pending;
}

QString stateName(Journal::RowState state)
{
    return QString::fromLatin1(StateNames[static_cast<int>(state)]);
}

// How long a statement waits for the journal while another connection (a
// thread's or another process's) writes it.
constexpr int BusyWaitMs = 30000;

// SQLITE_BUSY, the primary code or an extended one (BUSY_SNAPSHOT, ...).
bool isBusy(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok && (code & 0xff) == 5;
}

// The journal holds every old and new value: its folder and its files
// (SQLite makes the -wal and -shm files with the main file's mode) are the
// user's alone, tightened before it is opened.
void keepPrivate(const QString& path)
{
    SettingsStore::KeepPrivate(path);
#ifdef Q_OS_UNIX
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString file = path + QLatin1String(suffix);
        if (QFileInfo::exists(file))
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    }
#endif
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
    keepPrivate(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_database.setDatabaseName(path);
    if (!m_database.open())
        fail(QStringLiteral("cannot be opened (%1)").arg(path), m_database.lastError());
    // First of all: the run's thread and the writer's thread, and other
    // processes (an undo, history), wait their turns.
    exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(BusyWaitMs));
    // Write-ahead: each commit survives the program's crash without waiting
    // for the disk, and readers do not wait for writers.
    exec(QStringLiteral("PRAGMA journal_mode = WAL"));
    exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
    exec(QStringLiteral("PRAGMA foreign_keys = ON"));
    // Read and let go: a statement left open keeps its read transaction,
    // which cannot become a write while another connection writes.
    int layout = 0;
    {
        QSqlQuery query = exec(QStringLiteral("PRAGMA user_version"));
        if (query.next())
            layout = query.value(0).toInt();
    }
    if (layout > Version)
        throw RuntimeError(
            RuntimeError::FileAccessError,
            QStringLiteral("The change journal %1 was made by a newer Quorvane.").arg(path));
    if (layout < Version)
        migrate();
}

void Journal::migrate()
{
    inTransaction([&] {
        // Another process may have done it meanwhile.
        QSqlQuery version = exec(QStringLiteral("PRAGMA user_version"));
        const bool done = version.next() && version.value(0).toInt() >= Version;
        version.finish();
        if (done)
            return;
        exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS runs (id INTEGER PRIMARY KEY, started TEXT NOT NULL, "
            "sid TEXT NOT NULL, user TEXT NOT NULL, tbl TEXT NOT NULL, field TEXT NOT NULL, "
            "operation TEXT NOT NULL, answers TEXT NOT NULL, rows INTEGER NOT NULL DEFAULT 0, "
            "changed INTEGER NOT NULL DEFAULT 0, failed INTEGER NOT NULL DEFAULT 0, "
            "conflicts INTEGER NOT NULL DEFAULT 0, state TEXT NOT NULL, "
            "undone INTEGER NOT NULL DEFAULT 0, key_names TEXT)"));
        QSqlQuery keyNames = exec(QStringLiteral(
            "SELECT count(*) FROM pragma_table_info('runs') WHERE name = 'key_names'"));
        const bool hasKeyNames = keyNames.next() && keyNames.value(0).toInt() > 0;
        keyNames.finish();
        if (!hasKeyNames) // a run of an earlier layout: its key's names are not known
            exec(QStringLiteral("ALTER TABLE runs ADD COLUMN key_names TEXT"));
        exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS rows (id INTEGER PRIMARY KEY, "
            "run INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE, key TEXT NOT NULL, "
            "key_before TEXT NOT NULL, "
            "old TEXT NOT NULL, new TEXT NOT NULL, state TEXT NOT NULL, digest TEXT)"));
        QSqlQuery digest = exec(
            QStringLiteral("SELECT count(*) FROM pragma_table_info('rows') WHERE name = 'digest'"));
        const bool hasDigest = digest.next() && digest.value(0).toInt() > 0;
        digest.finish();
        if (!hasDigest) // rows of an earlier layout: found by their keys alone
            exec(QStringLiteral("ALTER TABLE rows ADD COLUMN digest TEXT"));
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS rows_of_run ON rows (run, id)"));
        // The moved keys of a batch's rows, ids first to last, as one JSON
        // text: [[id, key, digest or null], ...].
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS moves (first INTEGER NOT NULL, "
                            "last INTEGER NOT NULL, moves TEXT NOT NULL)"));
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS moves_by_last ON moves (last)"));
        // Only rows no write changes again: a run's own writes never touch it.
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS rows_final ON rows (run, state) WHERE ") +
             QLatin1String(FinalStates));
        // Layout 1 marked a run undone whatever became of its rows, and left
        // the rows it did not restore as written: they were left alone.
        exec(QStringLiteral("UPDATE rows SET state = 'kept' WHERE state IN ('pending', 'written') "
                            "AND run IN (SELECT id FROM runs WHERE undone = 1)"));
        exec(QStringLiteral("PRAGMA user_version = %1").arg(Version));
    });
}

Journal::~Journal()
{
    while (!m_locks.empty())
        releaseLock(m_locks.begin()->first);
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

// SQLite waits for a busy journal only where waiting cannot deadlock: not
// when WAL mode is first switched on, not when a read turns into a write.
// A statement that is its own transaction is tried again then, until its
// wait is up; one inside a transaction fails, and the transaction with it.
QSqlQuery Journal::exec(const QString& statement, const QVariantList& values)
{
    const QDeadlineTimer deadline(BusyWaitMs);
    for (;;) {
        QSqlQuery query(m_database);
        query.setForwardOnly(true);
        bool ok = query.prepare(statement);
        for (int i = 0; ok && i < values.size(); ++i)
            query.bindValue(i, values.at(i));
        if (ok && query.exec())
            return query;
        if (m_inTransaction || !isBusy(query.lastError()) || deadline.hasExpired())
            fail(QStringLiteral("cannot be written"), query.lastError());
        QThread::msleep(20);
    }
}

// The run's lock is taken before its entry can be seen by another process:
// an undo never finds the run running without it.
qint64 Journal::beginRun(const Run& run)
{
    qint64 id = 0;
    try {
        inTransaction([&] {
            const QSqlQuery query =
                exec(QStringLiteral("INSERT INTO runs (started, sid, user, tbl, field, operation, "
                                    "answers, rows, state, key_names) "
                                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, 'running', ?)"),
                     {run.started.toUTC().toString(Qt::ISODateWithMs), run.sid, run.user, run.table,
                      run.field, run.operation, toJson(QVariant(run.answers).toList()), run.rows,
                      run.keyNames.isEmpty() ? QVariant(QMetaType(QMetaType::QString))
                                             : QVariant(toJson(QVariant(run.keyNames).toList()))});
            id = query.lastInsertId().toLongLong();
            const QByteArray path = QFile::encodeName(lockPath(id));
            const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                const QString why = QString::fromLocal8Bit(std::strerror(errno));
                if (fd >= 0)
                    ::close(fd);
                throw RuntimeError(RuntimeError::FileAccessError,
                                   QStringLiteral("The change journal cannot lock its run (%1): %2")
                                       .arg(lockPath(id), why));
            }
            m_locks[id] = fd;
        });
    } catch (...) {
        releaseLock(id);
        throw;
    }
    return id;
}

QString Journal::lockPath(qint64 run) const
{
    return m_path + QStringLiteral(".run-%1.lock").arg(run);
}

// The file goes first: an undo that opened it before gets the lock only
// once the run has ended.
void Journal::releaseLock(qint64 run)
{
    const auto held = m_locks.find(run);
    if (held == m_locks.end())
        return;
    ::unlink(QFile::encodeName(lockPath(run)).constData());
    ::close(held->second);
    m_locks.erase(held);
}

// The writing process holds an flock() on the run's file: the system lets go
// of it when the process ends, however it ends, so a run killed part way can
// be undone at once, and no process id is taken for a live one.
bool Journal::isWriting(qint64 run) const
{
    const QByteArray path = QFile::encodeName(lockPath(run));
    const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return false; // ended, or begun by a program that held no lock
        throw RuntimeError(RuntimeError::FileAccessError,
                           QStringLiteral("The change journal cannot read its run's lock (%1): %2")
                               .arg(lockPath(run), QString::fromLocal8Bit(std::strerror(errno))));
    }
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (!held)
        ::unlink(path.constData()); // left by a process that was killed
    ::close(fd);
    return held;
}

// The write lock is taken at the start: two threads' connections journal
// one run at once, and a transaction that read first could not write after
// the other's commit.
template <class Work> void Journal::inTransaction(Work&& work)
{
    exec(QStringLiteral("BEGIN IMMEDIATE"));
    m_inTransaction = true;
    try {
        work();
        exec(QStringLiteral("COMMIT"));
    } catch (...) {
        QSqlQuery(m_database).exec(QStringLiteral("ROLLBACK"));
        m_inTransaction = false;
        throw;
    }
    m_inTransaction = false;
}

// A whole batch goes in one statement as one JSON text, each row an array
// [key, old, new, digest or null]: binding thousands of values one by one costs more than
// the journal's own work. The ids are counted on from the highest, which no
// other writer can take while the transaction holds the journal.
QList<qint64> Journal::addRows(qint64 run, const QList<Change>& changes)
{
    QString batch(1, u'[');
    for (const Change& change : changes) {
        if (batch.size() > 1)
            batch += u',';
        batch += u'[';
        appendJson(batch, change.key);
        batch += u',';
        appendJson(batch, change.oldValue);
        batch += u',';
        appendJson(batch, change.newValue);
        batch += u',';
        appendJson(batch,
                   change.digest.isNull() ? std::nullopt : std::optional(change.digest.toString()));
        batch += u']';
    }
    batch += u']';
    QList<qint64> ids;
    ids.reserve(changes.size());
    inTransaction([&] {
        QSqlQuery highest = exec(QStringLiteral("SELECT coalesce(max(id), 0) FROM rows"));
        const qint64 first = (highest.next() ? highest.value(0).toLongLong() : 0) + 1;
        exec(QStringLiteral("INSERT INTO rows (id, run, key, key_before, old, new, state, digest) "
                            "SELECT ? + e.key, ?, json_extract(e.value, '$[0]'), "
                            "json_extract(e.value, '$[0]'), json_extract(e.value, '$[1]'), "
                            "json_extract(e.value, '$[2]'), 'pending', "
                            "json_extract(e.value, '$[3]') FROM json_each(?) AS e"),
             {first, run, batch});
        for (qsizetype i = 0; i < changes.size(); ++i)
            ids << first + i;
    });
    return ids;
}

// The marks go as one JSON text too, each [row, state, key or null, stored
// value or null, digest or null].
void Journal::markRows(const QList<Mark>& marks)
{
    if (marks.isEmpty())
        return;
    QString batch(1, u'[');
    for (const Mark& mark : marks) {
        if (batch.size() > 1)
            batch += u',';
        batch += QStringLiteral("[%1,\"%2\",").arg(mark.row).arg(stateName(mark.state));
        if (mark.key.isEmpty())
            batch += QLatin1String("null");
        else
            appendJson(batch, mark.key);
        batch += u',';
        appendJson(batch, mark.stored);
        batch += u',';
        appendJson(batch, mark.digest);
        batch += u']';
    }
    batch += u']';
    inTransaction([&] {
        exec(QStringLiteral("UPDATE rows SET state = json_extract(m.value, '$[1]'), "
                            "key = coalesce(json_extract(m.value, '$[2]'), rows.key), "
                            "new = coalesce(json_extract(m.value, '$[3]'), rows.new), "
                            "digest = coalesce(json_extract(m.value, '$[4]'), rows.digest) "
                            "FROM json_each(?) AS m WHERE rows.id = json_extract(m.value, '$[0]')"),
             {batch});
    });
}

void Journal::recordMoves(const QList<Move>& moves)
{
    if (moves.isEmpty())
        return;
    QString json(1, u'[');
    qint64 first = moves.first().row;
    qint64 last = first;
    for (const Move& move : moves) {
        first = qMin(first, move.row);
        last = qMax(last, move.row);
        if (json.size() > 1)
            json += u',';
        json += u'[' + QString::number(move.row) + u',';
        appendJson(json, move.key);
        json += u',';
        appendJson(json, move.digest);
        json += u']';
    }
    json += u']';
    exec(QStringLiteral("INSERT INTO moves (first, last, moves) VALUES (?, ?, ?)"),
         {first, last, json});
}

// A batch of an undo is marked twice (undoing, then restored): its ids go
// as one JSON array of numbers, without a key or a state per row.
void Journal::markUndo(const QList<qint64>& rows, RowState state)
{
    if (rows.isEmpty())
        return;
    QString ids(1, u'[');
    ids.reserve(rows.size() * 12);
    for (const qint64 row : rows) {
        if (ids.size() > 1)
            ids += u',';
        ids += QString::number(row);
    }
    ids += u']';
    inTransaction([&] {
        exec(QStringLiteral(
                 "UPDATE rows SET state = ? WHERE id IN (SELECT value FROM json_each(?))"),
             {stateName(state), ids});
    });
}

void Journal::endRun(qint64 run, int rows, int changed, int failed, int conflicts,
                     const QString& state)
{
    try {
        exec(QStringLiteral("UPDATE runs SET rows = ?, changed = ?, failed = ?, conflicts = ?, "
                            "state = ? WHERE id = ?"),
             {rows, changed, failed, conflicts, state, run});
    } catch (...) {
        releaseLock(run);
        throw;
    }
    releaseLock(run);
}

bool Journal::markUndone(qint64 run)
{
    const QSqlQuery query = exec(
        QStringLiteral("UPDATE runs SET undone = 1 WHERE id = ? AND (SELECT count(*) FROM rows "
                       "WHERE run = ?) = (SELECT count(*) FROM rows WHERE run = ? AND %1)")
            .arg(QLatin1String(FinalStates)),
        {run, run, run});
    return query.numRowsAffected() > 0;
}

QList<Journal::Run> Journal::runs()
{
    return readRuns(std::nullopt);
}

std::optional<Journal::Run> Journal::run(qint64 id)
{
    const QList<Run> found = readRuns(id);
    if (found.isEmpty())
        return std::nullopt;
    return found.front();
}

// The counts by state come from the indexes alone: all rows of the run, and
// those in a final state.
QList<Journal::Run> Journal::readRuns(std::optional<qint64> only)
{
    const QString final = QLatin1String(FinalStates);
    QSqlQuery query = exec(
        QStringLiteral(
            "SELECT id, started, sid, user, tbl, field, operation, answers, rows, changed, failed, "
            "conflicts, state, undone, "
            "(SELECT count(*) FROM rows WHERE run = runs.id), "
            "(SELECT count(*) FROM rows WHERE run = runs.id AND %1), "
            "(SELECT count(*) FROM rows WHERE run = runs.id AND %1 AND state = 'restored'), "
            "(SELECT count(*) FROM rows WHERE run = runs.id AND %1 AND state = 'kept'), "
            "key_names FROM runs %2 ORDER BY id DESC")
            .arg(final, only ? QStringLiteral("WHERE id = ?") : QString()),
        only ? QVariantList{*only} : QVariantList{});
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
        run.toUndo = query.value(14).toInt() - query.value(15).toInt();
        run.restored = query.value(16).toInt();
        run.kept = query.value(17).toInt();
        run.keyNames = QVariant(fromJson(query.value(18).toString())).toStringList();
        runs << run;
    }
    return runs;
}

QList<Journal::Row> Journal::rowsToUndo(qint64 run)
{
    return rowsToUndo(run, std::numeric_limits<qint64>::max(), -1);
}

// By the index of the run's rows, from `below` down: a page costs the rows
// it passes over, not the run's.
QList<Journal::Row> Journal::rowsToUndo(qint64 run, qint64 below, int limit)
{
    QSqlQuery query =
        exec(QStringLiteral("SELECT id, key, old, new, key_before, state, digest FROM rows "
                            "WHERE run = ? "
                            "AND id < ? AND state IN ('pending', 'written', 'undoing') "
                            "ORDER BY id DESC LIMIT ?"),
             {run, below, limit});
    QList<Row> rows;
    if (limit > 0)
        rows.reserve(limit);
    // Rows still under the keys they were journaled with: where their keys
    // moved with the write, the batch's moves say where to.
    QHash<qint64, qsizetype> unmarked;
    while (query.next()) {
        Row row;
        row.id = query.value(0).toLongLong();
        row.key = fromJson(query.value(1).toString());
        row.oldValue = query.value(2).toString();
        row.newValue = query.value(3).toString();
        row.keyBefore = fromJson(query.value(4).toString());
        row.state = stateOf(query.value(5).toString());
        row.digest = query.value(6);
        if (query.value(1).toString() == query.value(4).toString())
            unmarked.insert(row.id, rows.size());
        rows << row;
    }
    query.finish();
    if (unmarked.isEmpty())
        return rows;
    // The moves of the batches the page's rows are in.
    QSqlQuery moved = exec(QStringLiteral("SELECT moves FROM moves WHERE last >= ? AND first <= ?"),
                           {rows.last().id, rows.first().id});
    while (moved.next()) {
        const QJsonArray moves =
            QJsonDocument::fromJson(moved.value(0).toString().toUtf8()).array();
        for (const QJsonValue& entry : moves) {
            const QJsonArray move = entry.toArray();
            const auto at = unmarked.constFind(move.at(0).toInteger());
            if (at == unmarked.constEnd())
                continue;
            Row& row = rows[*at];
            row.key = move.at(1).toArray().toVariantList();
            if (!move.at(2).isNull())
                row.digest = move.at(2).toString();
            if (row.state == RowState::Pending)
                row.state = RowState::Written;
        }
    }
    return rows;
}

void Journal::prune()
{
    exec(QStringLiteral("DELETE FROM runs WHERE id NOT IN (SELECT id FROM runs ORDER BY id DESC "
                        "LIMIT ?)"),
         {KeptRuns});
    exec(QStringLiteral("DELETE FROM moves WHERE NOT EXISTS (SELECT 1 FROM rows WHERE rows.id "
                        "BETWEEN moves.first AND moves.last)"));
}
