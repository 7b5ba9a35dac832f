#pragma once

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <map>
#include <optional>

struct Change;

// The local record of every change run, kept so that a run can be undone: an
// SQLite file of the program's own (Qt's QSQLITE) in the user's data folder.
// Each row is in it, committed, before its write is sent to the database.
// Never holds a password.
class Journal
{
public:
    // How many runs the journal keeps (the newest).
    static constexpr int KeptRuns = 100;

    // <the user's data folder>/Brenlow/Quorvane/journal.sqlite
    static QString DefaultPath();

    // Opens (or makes) the journal. Throws RuntimeError when it cannot.
    explicit Journal(const QString& path = DefaultPath());
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // The file; another thread opens a Journal of its own on it.
    const QString& path() const { return m_path; }

    // A row is pending until its write is told; an undo marks it undoing
    // before it writes the row back, and then restored, or kept (changed
    // since the run: left alone). Failed, conflict, restored and kept are
    // final: such a row is never written again. A row an undo found never
    // written (its run was killed before the write was final) is failed.
    enum class RowState { Pending, Written, Failed, Conflict, Restored, Undoing, Kept };

    struct Run {
        qint64 id = 0;
        QDateTime started;
        QString sid;
        QString user;
        QString driver; // empty for a run of a journal's earlier layout: the default
        QString table;
        QString field;
        QString operation; // caption
        QStringList answers;
        int rows = 0;
        int changed = 0;
        int failed = 0;
        int conflicts = 0;
        QString state;       // running, done, stopped, failed
        bool undone = false; // every row it wrote was restored or kept
        // Counted from the rows:
        int restored = 0; // rows an undo gave their old value back
        int kept = 0;     // rows an undo left alone, changed since the run
        int toUndo = 0;   // rows that may still hold the run's new value
        // The columns (or row address) its rows were named by, as the key
        // names them; empty for a run of a journal's earlier layout.
        QStringList keyNames;
    };

    struct Row {
        qint64 id = 0;
        QVariantList key;       // the key the row has after its write (before it, while pending)
        QVariantList keyBefore; // the key the row had when it was read
        QString oldValue;
        QString newValue;
        RowState state = RowState::Pending; // pending, written or undoing
        // Where the key is a row address: the digest of the row's other
        // columns after the write (as read, until the write tells it); a
        // Null for a run of an earlier layout.
        QVariant digest;
    };

    // A new run, state "running"; its id. This journal holds the run's lock
    // until endRun() (or its own end, or the process's): see isWriting().
    qint64 beginRun(const Run& run);
    // Rows about to be written, committed together before their writes are
    // sent; their ids, in order.
    QList<qint64> addRows(qint64 run, const QList<Change>& changes);
    // What became of a row's write; `key` is the key it has now (empty: unchanged).
    struct Mark {
        qint64 row;
        RowState state;
        QVariantList key;
        // The value the database stored, where a trigger rewrote the one
        // written: the row's new value from now on.
        std::optional<QString> stored = std::nullopt;
        // The row's digest after the write, where the key has one.
        std::optional<QString> digest = std::nullopt;
    };
    void markRows(const QList<Mark>& marks);
    // Rows a run wrote whose keys moved with the write (and nothing else to
    // say of them): their new keys and digests, as one entry for all of
    // them, in one statement. A row marked since keeps its mark's key.
    struct Move {
        qint64 row;
        QVariantList key;
        std::optional<QString> digest = std::nullopt;
    };
    void recordMoves(const QList<Move>& moves);
    // Rows of an undo that all take the same state, their keys as they are,
    // in one transaction: a letter a row in their batches' texts of states.
    void markUndo(const QList<qint64>& rows, RowState state);
    // The run's end: its counts and state. Lets go of the run's lock, also
    // when the counts cannot be written.
    void endRun(qint64 run, int rows, int changed, int failed, int conflicts, const QString& state);
    // Marks the run undone when none of its rows is left to undo; true when
    // it is marked.
    bool markUndone(qint64 run);
    // True while a live process (this one too) writes the run: its lock, a
    // file next to the journal, is held.
    bool isWriting(qint64 run) const;

    // Newest first.
    QList<Run> runs();
    std::optional<Run> run(qint64 id);
    // The rows of a run that may hold its new values (pending, written or
    // undoing), newest first.
    QList<Row> rowsToUndo(qint64 run);
    // The same a page at a time: at most `limit` of them (all where
    // negative) whose ids are below `below`, newest first.
    QList<Row> rowsToUndo(qint64 run, qint64 below, int limit);

    // Drops all but the newest KeptRuns runs.
    void prune();

private:
    // Runs `work` in one transaction of the journal's.
    template <class Work> void inTransaction(Work&& work);
    QSqlQuery exec(const QString& statement, const QVariantList& values = {});
    // Makes or brings the tables to the layout this program writes.
    void migrate();
    void addColumn(const QString& table, const QString& column);
    QList<Run> readRuns(std::optional<qint64> only);
    QSet<qint64> setStates(QList<std::pair<qint64, RowState>> states, QHash<qint64, qint64>& runOf);
    QHash<qint64, Move> movesOf(qint64 first, qint64 last);
    // What a batch row's mark says changed with its write (each Null where
    // nothing did).
    struct MarkRead {
        QVariant key, newValue, digest;
    };
    // The row as its mark and its move (either may be null) leave it: a
    // mark's key wins over a move's.
    static void layOver(Row& row, const MarkRead* mark, const Move* move);
    QList<Row> batchRowsToUndo(qint64 run, qint64 below, int limit);
    QList<Row> earlierRowsToUndo(qint64 run, qint64 below, int limit);
    QString lockPath(qint64 run) const;
    void releaseLock(qint64 run);

    QString m_path;
    QString m_name;
    QSqlDatabase m_database;
    bool m_inTransaction = false;  // within inTransaction: statements are not tried again
    std::map<qint64, int> m_locks; // the runs this journal writes: their lock files' descriptors
};
