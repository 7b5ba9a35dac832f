#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>
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

    enum class RowState { Pending, Written, Failed, Conflict, Restored };

    struct Run {
        qint64 id = 0;
        QDateTime started;
        QString sid;
        QString user;
        QString table;
        QString field;
        QString operation; // caption
        QStringList answers;
        int rows = 0;
        int changed = 0;
        int failed = 0;
        int conflicts = 0;
        QString state; // running, done, stopped, failed
        bool undone = false;
    };

    struct Row {
        qint64 id = 0;
        QVariantList key;       // the key the row has after its write (before it, while pending)
        QVariantList keyBefore; // the key the row had when it was read
        QString oldValue;
        QString newValue;
    };

    // A new run, state "running"; its id.
    qint64 beginRun(const Run& run);
    // Rows about to be written, committed together before their writes are
    // sent; their ids, in order.
    QList<qint64> addRows(qint64 run, const QList<Change>& changes);
    // What became of a row's write; `key` is the key it has now (empty: unchanged).
    struct Mark {
        qint64 row;
        RowState state;
        QVariantList key;
    };
    void markRows(const QList<Mark>& marks);
    void markRow(qint64 row, RowState state, const QVariantList& key = {})
    {
        markRows({{row, state, key}});
    }
    // The run's end: its counts and state.
    void endRun(qint64 run, int rows, int changed, int failed, int conflicts, const QString& state);
    void markUndone(qint64 run);

    // Newest first.
    QList<Run> runs();
    std::optional<Run> run(qint64 id);
    // The rows of a run that may hold its new values (pending or written), newest first.
    QList<Row> rowsToUndo(qint64 run);

    // Drops all but the newest KeptRuns runs.
    void prune();

private:
    // Runs `work` in one transaction of the journal's.
    template <class Work> void inTransaction(Work&& work);
    QSqlQuery exec(const QString& statement, const QVariantList& values = {});

    QString m_path;
    QString m_name;
    QSqlDatabase m_database;
    bool m_inTransaction = false; // within inTransaction: statements are not tried again
};
