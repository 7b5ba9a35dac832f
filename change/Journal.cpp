#include "change/Journal.h"

#include "app/RuntimeError.h"
#include "app/SettingsStore.h"
#include "change/Change.h"
#include "change/JournalJson.h"

#include <QAtomicInteger>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
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

// The journal's layout; a journal of a later layout is not touched.
// 2: rows an undo left alone are "kept", rows it is writing back "undoing".
// 3: a run keeps the names of the columns its rows were named by.
// 4: a row named by its address keeps the digest of its other columns.
// 5: a batch of rows is one entry (`batches`), its rows' states one text
//    of a letter a row (`batch_states`), counted in the run's counts; what
//    else became of a row (its key, value or digest) is a mark of its own
//    (`marks`). Rows of earlier runs stay in `rows`, marked there.
constexpr int Version = 6;

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

// A state as the letter a batch's text of states holds for it.
QChar letterOf(Journal::RowState state)
{
    return QLatin1Char(StateNames[static_cast<int>(state)][0]);
}

Journal::RowState stateOf(QChar letter)
{
    for (int i = 0; i < int(std::size(StateNames)); ++i)
        if (letter == QLatin1Char(StateNames[i][0]))
            return static_cast<Journal::RowState>(i);
    return Journal::RowState::Pending;
}

bool isFinal(Journal::RowState state)
{
    return state == Journal::RowState::Failed || state == Journal::RowState::Conflict ||
           state == Journal::RowState::Restored || state == Journal::RowState::Kept;
}

// An expression counting rows of a run of `runs`: those of an earlier
// layout in `rows`, by the indexes alone, and the batches' from the run's
// counts. All of them, those in a final state, or those restored or kept.
enum class Counted { All, Final, Restored, Kept };

QString countOf(Counted counted)
{
    switch (counted) {
    case Counted::All:
        return QStringLiteral("((SELECT count(*) FROM rows WHERE run = runs.id) + journaled)");
    case Counted::Final:
        return QStringLiteral("((SELECT count(*) FROM rows WHERE run = runs.id AND %1) + "
                              "final_rows)")
            .arg(QLatin1String(FinalStates));
    case Counted::Restored:
    case Counted::Kept:
        break;
    }
    const QString state =
        counted == Counted::Restored ? QStringLiteral("restored") : QStringLiteral("kept");
    return QStringLiteral("((SELECT count(*) FROM rows WHERE run = runs.id AND %1 AND state = "
                          "'%2') + %2_rows)")
        .arg(QLatin1String(FinalStates), state);
}

// The turns of this process's threads at writing a journal (one for all:
// a program writes one journal).
QMutex& writeTurns()
{
    static QMutex turns;
    return turns;
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

// Adds the column (its name, then its type) to the table where an earlier
// layout's table lacks it.
void Journal::addColumn(const QString& table, const QString& column)
{
    QSqlQuery has = exec(QStringLiteral("SELECT count(*) FROM pragma_table_info(?) WHERE name = ?"),
                         {table, column.section(u' ', 0, 0)});
    const bool present = has.next() && has.value(0).toInt() > 0;
    has.finish();
    if (!present)
        exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2").arg(table, column));
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
        // a run of an earlier layout: its key's names are not known
        addColumn(QStringLiteral("runs"), QStringLiteral("key_names TEXT"));
        // the ODBC driver of the run's logon; a run of an earlier layout: the default
        addColumn(QStringLiteral("runs"), QStringLiteral("driver TEXT"));
        exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS rows (id INTEGER PRIMARY KEY, "
            "run INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE, key TEXT NOT NULL, "
            "key_before TEXT NOT NULL, "
            "old TEXT NOT NULL, new TEXT NOT NULL, state TEXT NOT NULL, digest TEXT)"));
        // rows of an earlier layout: found by their keys alone
        addColumn(QStringLiteral("rows"), QStringLiteral("digest TEXT"));
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS rows_of_run ON rows (run, id)"));
        // The moved keys of a batch's rows, ids first to last, as one JSON
        // text: [[id, key, digest or null], ...].
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS moves (first INTEGER NOT NULL, "
                            "last INTEGER NOT NULL, moves TEXT NOT NULL)"));
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS moves_by_last ON moves (last)"));
        // A batch's rows, ids first to last, as one JSON text: [[key, old,
        // new, digest or null], ...]; one insert a batch, not one a row.
        exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS batches (first INTEGER PRIMARY KEY, last INTEGER NOT NULL, "
            "run INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE, changes TEXT NOT NULL)"));
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS batches_of_run ON batches (run, first)"));
        // The states of a batch's rows, a letter a row: a mark changes a
        // letter, not a row of the journal's.
        exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS batch_states (first INTEGER PRIMARY KEY, "
            "run INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE, states TEXT NOT NULL)"));
        // What else became of a batch's row: where they changed with the
        // write, its key, its new value (a trigger's) and its digest.
        exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS marks (id INTEGER PRIMARY KEY, "
            "run INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE, key TEXT, new TEXT, "
            "digest TEXT)"));
        // A run's batch rows, counted as their states change.
        for (const char* column : {"journaled", "final_rows", "restored_rows", "kept_rows"})
            addColumn(QStringLiteral("runs"),
                      QLatin1String(column) + QStringLiteral(" INTEGER NOT NULL DEFAULT 0"));
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
    // An empty SID or user name (a data source, an SQLite file) is a text,
    // not a Null.
    const auto text = [](const QString& value) {
        return value.isNull() ? QStringLiteral("") : value;
    };
    try {
        inTransaction([&] {
            const QSqlQuery query =
                exec(QStringLiteral("INSERT INTO runs (started, sid, user, tbl, field, operation, "
                                    "answers, rows, state, key_names, driver) "
                                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, 'running', ?, ?)"),
                     {run.started.toUTC().toString(Qt::ISODateWithMs), text(run.sid),
                      text(run.user), run.table, run.field, run.operation,
                      JournalJson::toJson(QVariant(run.answers).toList()), run.rows,
                      run.keyNames.isEmpty()
                          ? QVariant(QMetaType(QMetaType::QString))
                          : QVariant(JournalJson::toJson(QVariant(run.keyNames).toList())),
                      run.driver});
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
// the other's commit. The threads of this process take turns on a mutex
// first: SQLite's own wait for a busy file sleeps for 1, 2, 5, 10 ms and
// more at a time, which cost a run's writer thread a third of its time.
template <class Work> void Journal::inTransaction(Work&& work)
{
    const QMutexLocker turn(&writeTurns());
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

// A whole batch goes in one row as one JSON text, each of its rows an array
// [key, old, new, digest or null]: a row of the journal's a row written
// costs more than the write. The ids are counted on from the highest, which
// no other writer can take while the transaction holds the journal.
QList<qint64> Journal::addRows(qint64 run, const QList<Change>& changes)
{
    if (changes.isEmpty())
        return {};
    QString batch(1, u'[');
    for (const Change& change : changes) {
        if (batch.size() > 1)
            batch += u',';
        batch += u'[';
        JournalJson::append(batch, change.key);
        batch += u',';
        JournalJson::append(batch, change.oldValue);
        batch += u',';
        JournalJson::append(batch, change.newValue);
        batch += u',';
        JournalJson::append(
            batch, change.digest.isNull() ? std::nullopt : std::optional(change.digest.toString()));
        batch += u']';
    }
    batch += u']';
    QList<qint64> ids;
    ids.reserve(changes.size());
    inTransaction([&] {
        QSqlQuery highest = exec(
            QStringLiteral("SELECT max(coalesce((SELECT max(id) FROM rows), 0), "
                           "coalesce((SELECT last FROM batches ORDER BY first DESC LIMIT 1), 0))"));
        const qint64 first = (highest.next() ? highest.value(0).toLongLong() : 0) + 1;
        highest.finish();
        exec(QStringLiteral("INSERT INTO batches (first, last, run, changes) VALUES (?, ?, ?, ?)"),
             {first, first + changes.size() - 1, run, batch});
        exec(QStringLiteral("INSERT INTO batch_states (first, run, states) VALUES (?, ?, ?)"),
             {first, run, QString(changes.size(), letterOf(RowState::Pending))});
        exec(QStringLiteral("UPDATE runs SET journaled = journaled + ? WHERE id = ?"),
             {changes.size(), run});
        for (qsizetype i = 0; i < changes.size(); ++i)
            ids << first + i;
    });
    return ids;
}

// The states go in the batches' texts of states; the rest of the marks as
// one JSON text, each [row, state (a row of an earlier layout's) or run,
// key or null, stored value or null, digest or null].
void Journal::markRows(const QList<Mark>& marks)
{
    if (marks.isEmpty())
        return;
    inTransaction([&] {
        QList<std::pair<qint64, RowState>> states;
        for (const Mark& mark : marks)
            states.append({mark.row, mark.state});
        QHash<qint64, qint64> runOf;
        const QSet<qint64> earlier = setStates(states, runOf);
        // A row of an earlier layout's run is marked where it is; a batch's
        // row has its key, value and digest marked where the write changed
        // them.
        QString inRows(1, u'[');
        QString details(1, u'[');
        for (const Mark& mark : marks) {
            const bool isEarlier = earlier.contains(mark.row);
            if (!isEarlier && mark.key.isEmpty() && !mark.stored && !mark.digest)
                continue;
            QString& json = isEarlier ? inRows : details;
            if (json.size() > 1)
                json += u',';
            json += QStringLiteral("[%1,%2,").arg(mark.row).arg(
                isEarlier ? u'"' + stateName(mark.state) + u'"'
                          : QString::number(runOf.value(mark.row)));
            if (mark.key.isEmpty())
                json += QLatin1String("null");
            else
                JournalJson::append(json, mark.key);
            json += u',';
            JournalJson::append(json, mark.stored);
            json += u',';
            JournalJson::append(json, mark.digest);
            json += u']';
        }
        if (inRows.size() > 1)
            exec(QStringLiteral("UPDATE rows SET state = json_extract(m.value, '$[1]'), "
                                "key = coalesce(json_extract(m.value, '$[2]'), rows.key), "
                                "new = coalesce(json_extract(m.value, '$[3]'), rows.new), "
                                "digest = coalesce(json_extract(m.value, '$[4]'), rows.digest) "
                                "FROM json_each(?) AS m WHERE rows.id = "
                                "json_extract(m.value, '$[0]')"),
                 {inRows + u']'});
        if (details.size() > 1)
            exec(QStringLiteral(
                     "INSERT INTO marks (id, run, key, new, digest) "
                     "SELECT json_extract(value, '$[0]'), json_extract(value, '$[1]'), "
                     "json_extract(value, '$[2]'), json_extract(value, '$[3]'), "
                     "json_extract(value, '$[4]') FROM json_each(?) WHERE true "
                     "ON CONFLICT (id) DO UPDATE SET key = coalesce(excluded.key, marks.key), "
                     "new = coalesce(excluded.new, marks.new), "
                     "digest = coalesce(excluded.digest, marks.digest)"),
                 {details + u']'});
    });
}

// In the caller's transaction: each batch's text of states is read and
// written once, and the changes it sees counted in its run's counts. The
// rows found in no batch (an earlier layout's run's, all below the first
// batch) are returned; the run of each batch row goes in `runOf`.
QSet<qint64> Journal::setStates(QList<std::pair<qint64, RowState>> states,
                                QHash<qint64, qint64>& runOf)
{
    std::sort(states.begin(), states.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    QSet<qint64> earlier;
    QSqlQuery lowest = exec(QStringLiteral("SELECT min(first) FROM batches"));
    const qint64 firstBatch = lowest.next() && !lowest.value(0).isNull()
                                  ? lowest.value(0).toLongLong()
                                  : std::numeric_limits<qint64>::max();
    lowest.finish();
    qsizetype i = 0;
    for (; i < states.size() && states[i].first < firstBatch; ++i)
        earlier.insert(states[i].first);
    while (i < states.size()) {
        QSqlQuery found = exec(QStringLiteral("SELECT first, run, states FROM batch_states WHERE "
                                              "first <= ? ORDER BY first DESC LIMIT 1"),
                               {states[i].first});
        const bool inBatch = found.next();
        const qint64 first = inBatch ? found.value(0).toLongLong() : 0;
        const qint64 run = inBatch ? found.value(1).toLongLong() : 0;
        QString letters = inBatch ? found.value(2).toString() : QString();
        found.finish();
        if (!inBatch || states[i].first >= first + letters.size()) {
            earlier.insert(states[i++].first);
            continue;
        }
        qint64 final = 0;
        qint64 restored = 0;
        qint64 kept = 0;
        for (; i < states.size() && states[i].first < first + letters.size(); ++i) {
            QChar& letter = letters[states[i].first - first];
            const RowState before = stateOf(letter);
            const RowState after = states[i].second;
            final += int(isFinal(after)) - int(isFinal(before));
            restored += int(after == RowState::Restored) - int(before == RowState::Restored);
            kept += int(after == RowState::Kept) - int(before == RowState::Kept);
            letter = letterOf(after);
            runOf.insert(states[i].first, run);
        }
        exec(QStringLiteral("UPDATE batch_states SET states = ? WHERE first = ?"),
             {letters, first});
        if (final != 0 || restored != 0 || kept != 0)
            exec(QStringLiteral("UPDATE runs SET final_rows = final_rows + ?, restored_rows = "
                                "restored_rows + ?, kept_rows = kept_rows + ? WHERE id = ?"),
                 {final, restored, kept, run});
    }
    return earlier;
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
        JournalJson::append(json, move.key);
        json += u',';
        JournalJson::append(json, move.digest);
        json += u']';
    }
    json += u']';
    inTransaction([&] {
        exec(QStringLiteral("INSERT INTO moves (first, last, moves) VALUES (?, ?, ?)"),
             {first, last, json});
    });
}

// A batch of an undo is marked twice (undoing, then restored): a letter a
// row in its batches' texts of states, without a key or a value.
void Journal::markUndo(const QList<qint64>& rows, RowState state)
{
    if (rows.isEmpty())
        return;
    inTransaction([&] {
        QList<std::pair<qint64, RowState>> states;
        for (const qint64 row : rows)
            states.append({row, state});
        QHash<qint64, qint64> runOf;
        const QSet<qint64> earlier = setStates(states, runOf);
        if (earlier.isEmpty())
            return;
        QString ids(1, u'[');
        for (const qint64 row : earlier) {
            if (ids.size() > 1)
                ids += u',';
            ids += QString::number(row);
        }
        exec(QStringLiteral(
                 "UPDATE rows SET state = ? WHERE id IN (SELECT value FROM json_each(?))"),
             {stateName(state), ids + u']'});
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
    const QSqlQuery query =
        exec(QStringLiteral("UPDATE runs SET undone = 1 WHERE id = ? AND %1 = %2")
                 .arg(countOf(Counted::All), countOf(Counted::Final)),
             {run});
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
    QSqlQuery query = exec(
        QStringLiteral(
            "SELECT id, started, sid, user, tbl, field, operation, answers, rows, changed, failed, "
            "conflicts, state, undone, %1, %2, %3, %4, key_names, driver FROM runs %5 "
            "ORDER BY id DESC")
            .arg(countOf(Counted::All), countOf(Counted::Final), countOf(Counted::Restored),
                 countOf(Counted::Kept), only ? QStringLiteral("WHERE id = ?") : QString()),
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
        run.answers = QVariant(JournalJson::fromJson(query.value(7).toString())).toStringList();
        run.rows = query.value(8).toInt();
        run.changed = query.value(9).toInt();
        run.failed = query.value(10).toInt();
        run.conflicts = query.value(11).toInt();
        run.state = query.value(12).toString();
        run.undone = query.value(13).toBool();
        run.toUndo = query.value(14).toInt() - query.value(15).toInt();
        run.restored = query.value(16).toInt();
        run.kept = query.value(17).toInt();
        run.keyNames = QVariant(JournalJson::fromJson(query.value(18).toString())).toStringList();
        run.driver = query.value(19).toString();
        runs << run;
    }
    return runs;
}

QList<Journal::Row> Journal::rowsToUndo(qint64 run)
{
    return rowsToUndo(run, std::numeric_limits<qint64>::max(), -1);
}

// Newest first: the batches' rows, then those of an earlier layout's run,
// whose ids are all below the batches'.
QList<Journal::Row> Journal::rowsToUndo(qint64 run, qint64 below, int limit)
{
    QList<Row> rows = batchRowsToUndo(run, below, limit);
    if (limit < 0 || rows.size() < limit)
        rows += earlierRowsToUndo(run, below, limit < 0 ? -1 : limit - int(rows.size()));
    return rows;
}

// The moves recorded for rows `first` to `last`, by row.
QHash<qint64, Journal::Move> Journal::movesOf(qint64 first, qint64 last)
{
    QHash<qint64, Move> found;
    QSqlQuery moved = exec(QStringLiteral("SELECT moves FROM moves WHERE last >= ? AND first <= ?"),
                           {first, last});
    while (moved.next()) {
        // QJsonDocument's own array is quicker to walk than lists of
        // QVariants: a batch's moves are a thousand rows.
        const QJsonArray moves =
            QJsonDocument::fromJson(moved.value(0).toString().toUtf8()).array();
        for (const QJsonValue& entry : moves) {
            const QJsonArray move = entry.toArray();
            const qint64 row = move.at(0).toInteger();
            if (row < first || row > last)
                continue;
            found.insert(
                row, {row, move.at(1).toArray().toVariantList(),
                      move.at(2).isNull() ? std::nullopt : std::optional(move.at(2).toString())});
        }
    }
    return found;
}

// A batch is read whole, and its rows taken from `below` down; a row's
// mark, or else its batch's move, says what became of it. The marks and
// moves of as many batches as the rows wanted fill are read together.
void Journal::layOver(Row& row, const MarkRead* mark, const Move* move)
{
    if (mark && !mark->key.isNull()) {
        row.key = JournalJson::fromJson(mark->key.toString());
    } else if (move) {
        row.key = move->key;
        if (move->digest)
            row.digest = *move->digest;
        if (row.state == RowState::Pending)
            row.state = RowState::Written;
    }
    if (mark) {
        if (!mark->newValue.isNull())
            row.newValue = mark->newValue.toString();
        if (!mark->digest.isNull())
            row.digest = mark->digest;
    }
}

QList<Journal::Row> Journal::batchRowsToUndo(qint64 run, qint64 below, int limit)
{
    QList<Row> rows;
    QSqlQuery batches =
        exec(QStringLiteral("SELECT b.first, b.last, b.changes, s.states FROM batches AS b JOIN "
                            "batch_states AS s USING (first) WHERE b.run = ? AND b.first < ? "
                            "ORDER BY b.first DESC"),
             {run, below});
    struct Batch {
        qint64 first;
        qint64 top;      // its last row below `below`
        QList<Row> rows; // first to top, as journaled
        QString states;  // a letter a row
    };
    bool more = true;
    while (more && (limit < 0 || rows.size() < limit)) {
        QList<Batch> read;
        qint64 wanted = limit < 0 ? std::numeric_limits<qint64>::max() : limit - rows.size();
        while (wanted > 0 && (more = batches.next())) {
            const qint64 first = batches.value(0).toLongLong();
            const qint64 top = qMin(batches.value(1).toLongLong(), below - 1);
            read.append({first, top,
                         JournalJson::batchRows(batches.value(2).toString(), first, top),
                         batches.value(3).toString()});
            wanted -= top - first + 1;
        }
        if (read.isEmpty())
            break;
        QHash<qint64, MarkRead> marks;
        QSqlQuery marked =
            exec(QStringLiteral("SELECT id, key, new, digest FROM marks WHERE id BETWEEN ? AND ?"),
                 {read.last().first, read.first().top});
        while (marked.next())
            marks.insert(marked.value(0).toLongLong(),
                         {marked.value(1), marked.value(2), marked.value(3)});
        marked.finish();
        const QHash<qint64, Move> moves = movesOf(read.last().first, read.first().top);
        for (Batch& batch : read) {
            for (qsizetype at = batch.rows.size() - 1;
                 at >= 0 && (limit < 0 || rows.size() < limit); --at) {
                Row& row = batch.rows[at];
                const qint64 id = row.id;
                row.state = stateOf(at < batch.states.size() ? batch.states.at(at) : QChar());
                if (row.state != RowState::Pending && row.state != RowState::Written &&
                    row.state != RowState::Undoing)
                    continue;
                const auto mark = marks.constFind(id);
                const auto move = moves.constFind(id);
                layOver(row, mark != marks.constEnd() ? &*mark : nullptr,
                        move != moves.constEnd() ? &*move : nullptr);
                rows << std::move(row);
            }
        }
    }
    return rows;
}

// By the index of the run's rows, from `below` down: a page costs the rows
// it passes over, not the run's.
QList<Journal::Row> Journal::earlierRowsToUndo(qint64 run, qint64 below, int limit)
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
        row.key = JournalJson::fromJson(query.value(1).toString());
        row.oldValue = query.value(2).toString();
        row.newValue = query.value(3).toString();
        row.keyBefore = JournalJson::fromJson(query.value(4).toString());
        row.state = stateOf(query.value(5).toString());
        row.digest = query.value(6);
        if (query.value(1).toString() == query.value(4).toString())
            unmarked.insert(row.id, rows.size());
        rows << row;
    }
    query.finish();
    if (unmarked.isEmpty())
        return rows;
    const QHash<qint64, Move> moves = movesOf(rows.last().id, rows.first().id);
    for (auto at = unmarked.constBegin(); at != unmarked.constEnd(); ++at) {
        const auto move = moves.constFind(at.key());
        if (move == moves.constEnd())
            continue;
        Row& row = rows[at.value()];
        row.key = move->key;
        if (move->digest)
            row.digest = *move->digest;
        if (row.state == RowState::Pending)
            row.state = RowState::Written;
    }
    return rows;
}

void Journal::prune()
{
    exec(QStringLiteral("DELETE FROM runs WHERE id NOT IN (SELECT id FROM runs ORDER BY id DESC "
                        "LIMIT ?)"),
         {KeptRuns});
    // A batch's moves lie in the batch: the one begun last at their end.
    exec(QStringLiteral("DELETE FROM moves WHERE NOT EXISTS (SELECT 1 FROM rows WHERE rows.id "
                        "BETWEEN moves.first AND moves.last) AND NOT EXISTS (SELECT 1 FROM "
                        "batches AS b WHERE b.first = (SELECT max(first) FROM batches WHERE "
                        "first <= moves.last) AND b.last >= moves.first)"));
}
