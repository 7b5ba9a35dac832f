#include "change/Undo.h"

#include "app/ErrorReport.h"
#include "app/RuntimeError.h"
#include "change/BatchWriter.h"
#include "change/Steps.h"
#include "change/ThreadedWriter.h"
#include "db/Schema.h"

#include <QHash>
#include <QSet>
#include <limits>

namespace
{

using namespace UndoSteps;

// True when the run was made under the logon: the same SID, user name and
// driver (the same SID and user name under another driver may be another
// database).
bool madeUnder(const Journal::Run& run, const Logon& logon)
{
    return run.sid == logon.sid && run.user == logon.user &&
           Oracle::DriverName(run.driver) == Oracle::DriverName(logon.driver);
}

// True when a row still stands where it was read, with the value read: its
// write was never made final (the run was killed after the journal learnt of
// it, before the write's transaction was committed), or it holds its old
// value again all the same; either way it is no conflict.
bool stillAsRead(Oracle::Connection& connection, const Db::RowKey& key, const Journal::Run& run,
                 const Journal::Row& row)
{
    QVariantList values = row.keyBefore;
    values << row.oldValue;
    if (key.checksDigest)
        values << row.digest;
    QSqlQuery query =
        connection.select(connection.dialect().rowHolds(run.table, run.field, key), values);
    return connection.next(query) && query.value(0).toInt() > 0;
}

// Records in the journal each row an undo wrote back whose key moved with
// the write (a row address, or a key the field is part of), with the key it
// has after the write, before the write is made final: one transaction per
// batch, as JournaledWriter does for a run's rows. Where the key
// stays, the undo marks the batch's rows once the batch is final, together
// with its conflicts, on the undo's thread (not the writer's): a row whose
// mark is lost is still "undoing", and found holding its old value by the
// next undo. A row that
// was not written after all (its batch failed or was stopped after the
// marks) is marked undoing again under the key it had: whatever the
// journal was told, it is still to undo, where it was.
class RestoreMarkingWriter : public RowWriter
{
public:
    RestoreMarkingWriter(Journal& journal, std::unique_ptr<RowWriter> inner)
        : m_journal(journal), m_inner(std::move(inner))
    {
        m_inner->setReports(
            [this](const Results& results) {
                // Restored is final: the key the row moved to is not kept.
                QList<qint64> restored;
                for (const Result& result : results)
                    if (result.outcome == Outcome::Written && !result.keyAfter.isEmpty())
                        restored << result.ticket;
                m_journal.markUndo(restored, Journal::RowState::Restored);
                settle(results);
            },
            [this](const Results& results) {
                QList<Journal::Mark> back;
                for (const Result& result : results) {
                    const QVariantList key = m_keys.take(result.ticket);
                    if (result.outcome == Outcome::Failed || result.outcome == Outcome::Stopped)
                        back.append({result.ticket, Journal::RowState::Undoing, key});
                }
                try {
                    m_journal.markRows(back);
                } catch (const RuntimeError&) {
                    // The journal fails as the write did: a row it was told
                    // of as restored stays so (a lost restored mark is
                    // found again; a mark that outlived its write is not).
                }
                done(results);
            });
    }
    // The same, with a journal of its own.
    RestoreMarkingWriter(std::unique_ptr<Journal> journal, std::unique_ptr<RowWriter> inner)
        : RestoreMarkingWriter(*journal, std::move(inner))
    {
        m_owned = std::move(journal);
    }

    int batchRows() const override { return m_inner->batchRows(); }
    void write(const Change& change, qint64 row) override
    {
        m_keys.insert(row, change.key);
        m_inner->write(change, row);
    }
    void flush() override { m_inner->flush(); }
    void pause() override { m_inner->pause(); }
    void drop() override
    {
        m_inner->drop();
        m_keys.clear();
    }

private:
    std::unique_ptr<Journal> m_owned;
    Journal& m_journal;
    std::unique_ptr<RowWriter> m_inner;
    QHash<qint64, QVariantList> m_keys; // journal row -> its key, while in flight
};

// Where rows are named by their addresses, a row the undo did not find
// under its key may have moved (VACUUM FULL, CLUSTER, a table move): it is
// looked for by its contents, the field holding the run's new value and its
// other columns the digest the run recorded, and written back under the key
// found. Rows alike are interchangeable: each row found is taken once, so
// that as many are restored as the run wrote.
class MovedRows
{
public:
    MovedRows(Oracle::Connection& connection, const Db::RowKey& key, const Journal::Run& run,
              Journal& journal, WriteControl control)
        : m_connection(connection), m_key(key), m_run(run), m_journal(journal),
          m_writer(journal, std::make_unique<DirectWriter>(connection, run.table, run.field, key,
                                                           std::move(control)))
    {
        m_writer.setReports({}, [this](const RowWriter::Results& results) {
            for (const RowWriter::Result& result : results)
                m_told.insert(result.ticket, result);
        });
    }

    // Writes back those of `rows` found by their contents, and takes them
    // out of `rows`; `restored` and `failed` count them. Throws
    // RuntimeError when the rows cannot be looked for.
    void restore(QList<Journal::Row>& rows, int& restored, int& failed)
    {
        QList<Journal::Row> sought;
        QList<Journal::Row> left;
        for (const Journal::Row& row : rows)
            (m_key.addressed && !row.digest.isNull() ? sought : left) << row;
        if (sought.isEmpty())
            return;
        const QMultiHash<std::pair<QString, QString>, QStringList> found = find(sought);
        for (const Journal::Row& row : sought) {
            QStringList texts;
            for (const QStringList& key : found.values({row.newValue, row.digest.toString()}))
                if (!m_taken.contains(key)) {
                    texts = key;
                    break;
                }
            if (texts.isEmpty()) {
                left << row;
                continue;
            }
            m_taken.insert(texts);
            const QVariantList at(texts.begin(), texts.end());
            // Under the key found from now on: a mark lost after the write
            // is found holding its old value there.
            m_journal.markRows({{row.id, Journal::RowState::Undoing, at}});
            m_writer.write({at, row.newValue, row.oldValue, row.digest}, row.id);
            const RowWriter::Result result = m_told.take(row.id);
            if (result.outcome == RowWriter::Outcome::Written && result.errorNumber == 0) {
                if (result.keyAfter.isEmpty())
                    m_journal.markUndo({row.id}, Journal::RowState::Restored);
                ++restored;
            } else if (result.outcome == RowWriter::Outcome::Conflict) {
                left << row; // changed since it was found
            } else {
                ++failed;
            }
        }
        rows = left;
    }

private:
    // The rows holding the sought rows' new values, by value and digest.
    QMultiHash<std::pair<QString, QString>, QStringList> find(const QList<Journal::Row>& rows)
    {
        QSet<QString> distinct;
        for (const Journal::Row& row : rows)
            distinct.insert(row.newValue);
        const QStringList values(distinct.begin(), distinct.end());
        QMultiHash<std::pair<QString, QString>, QStringList> found;
        const qsizetype parts = m_key.size();
        constexpr qsizetype Chunk = 500;
        for (qsizetype first = 0; first < values.size(); first += Chunk) {
            const QStringList chunk = values.mid(first, Chunk);
            QSqlQuery query =
                m_connection.select(m_connection.dialect().rowsHoldingAnyOf(
                                        m_run.table, m_run.field, m_key, int(chunk.size())),
                                    QVariantList(chunk.begin(), chunk.end()));
            while (m_connection.next(query)) {
                QStringList key;
                for (qsizetype i = 1; i <= parts; ++i)
                    key << query.value(int(i)).toString();
                found.insert({query.value(0).toString(), query.value(int(parts + 1)).toString()},
                             key);
            }
        }
        return found;
    }

    Oracle::Connection& m_connection;
    Db::RowKey m_key;
    const Journal::Run& m_run;
    Journal& m_journal;
    RestoreMarkingWriter m_writer;
    QHash<qint64, RowWriter::Result> m_told;
    QSet<QStringList> m_taken; // the keys of the rows found and written back
};

bool endsTheUndo(int error)
{
    return error == RuntimeError::ConnectionLost || error == RuntimeError::FileAccessError;
}

} // namespace

Undo::Undo(RunObserver& observer, Interaction& ui, Journal& journal, UndoOptions options)
    : m_observer(observer), m_ui(ui), m_journal(journal), m_options(options)
{
    m_options.batchRows = qMax(1, m_options.batchRows);
    m_options.pageRows = qMax(1, m_options.pageRows);
}

std::optional<Journal::Run> Undo::LastUndoable(Journal& journal, const Logon& logon)
{
    for (const Journal::Run& run : journal.runs())
        if (!run.undone && madeUnder(run, logon))
            return run;
    return std::nullopt;
}

// The table's row key now, as the run named its rows, or not at all: a key
// moved to other columns would name other rows. A row is written back only
// where it is as the run left it (its digest, where the key has one).
Db::RowKey Undo::readKey(Oracle::Connection& connection, const Journal::Run& run)
{
    Db::RowKey key = Oracle::ReadRowKey(connection, run.table, run.field);
    if (!run.keyNames.isEmpty() && run.keyNames != key.names())
        throw RuntimeError(RuntimeError::DriverError,
                           QStringLiteral("The table's rows were named by %1 when the run wrote "
                                          "them, and are named by %2 now: they cannot be found "
                                          "again.")
                               .arg(run.keyNames.join(QStringLiteral(", ")),
                                    key.names().join(QStringLiteral(", "))));
    key.checksDigest = key.addressed;
    return key;
}

// Row by row over the undo's connection, or as a run writes: batches on a
// thread of their own, over a connection (and a journal connection, for
// the marks) of their own, while this thread reads and marks the next.
std::unique_ptr<RowWriter> Undo::makeWriter(Oracle::Connection& connection, const Logon& logon,
                                            const Journal::Run& run, const Db::RowKey& key,
                                            RunActivity& activity)
{
    const QString table = run.table;
    const QString field = run.field;
    if (m_options.rowByRow) {
        WriteControl control;
        control.stopRequested = [this] { return m_observer.stopRequested(); };
        control.waiting = [&activity] { activity.waiting(); };
        return std::make_unique<RestoreMarkingWriter>(
            m_journal,
            std::make_unique<DirectWriter>(connection, table, field, key, std::move(control)));
    }
    auto threaded = std::make_unique<ThreadedWriter>(
        logon, m_options.batchRows, [this] { return m_observer.stopRequested(); },
        [&activity] { activity.waiting(); }, m_options.writerThreads);
    const QString journal = m_journal.path();
    const int rows = m_options.batchRows;
    threaded->start([=](Oracle::Connection& writing,
                        WriteControl control) -> std::unique_ptr<RowWriter> {
        return std::make_unique<RestoreMarkingWriter>(
            std::make_unique<Journal>(journal),
            std::make_unique<BatchWriter>(writing, table, field, key, std::move(control), rows));
    });
    return threaded;
}

// One undo of one run: what the undo keeps while it goes, and its parts.
class Undo::Pass
{
public:
    Pass(Undo& undo, qint64 runId, const Logon& logon)
        : m_observer(undo.m_observer), m_journal(undo.m_journal), m_undo(undo), m_runId(runId),
          m_logon(logon), m_steps(undo.m_ui, undo.m_options.window, undo.m_options.handler)
    {
    }

    UndoResult go()
    {
        if (const std::optional<UndoResult::End> refused = readRun())
            return finish(*refused);
        m_observer.setMousePointer(MousePointer::Hourglass);
        m_activity.emplace(m_observer);
        m_activity->reading();
        if (!open())
            return finish(UndoResult::End::Failed);
        m_writer->setReports({}, [this](const RowWriter::Results& results) { tell(results); });
        m_steps.setBounded(true);
        writePages();
        // What was sent and not yet told is cancelled where it waits, and told.
        if (m_stopped || m_ended)
            m_writer->drop();
        m_writer.reset();
        putBackUnsent();
        m_steps.setBounded(false);
        m_steps.reportRepeats();
        m_result.rows = m_result.restored + m_result.conflicts + m_result.failed;
        m_result.left = m_total - m_settled;
        if (m_ended)
            return finish(UndoResult::End::Failed);
        if (m_result.left > 0 && (m_stopped || m_observer.stopRequested()))
            return finish(UndoResult::End::Stopped);
        if (m_result.left == 0) {
            m_steps.step(MarkUndone, [&] {
                if (!m_journal.markUndone(m_runId))
                    m_result.left = m_journal.run(m_runId)->toUndo;
            });
        }
        return finish(UndoResult::End::Done);
    }

private:
    UndoResult finish(UndoResult::End end)
    {
        m_steps.step(DefaultPointer, [&] { m_observer.setMousePointer(MousePointer::Default); });
        m_result.end = end;
        m_result.reports = m_steps.reportCount();
        return m_result;
    }

    // The run, and why it cannot be undone, if it cannot.
    std::optional<UndoResult::End> readRun()
    {
        bool writing = false;
        if (!m_steps.step(ReadRun, [&] {
                m_run = m_journal.run(m_runId);
                if (m_run && !m_run->undone && madeUnder(*m_run, m_logon))
                    writing = m_journal.isWriting(m_runId);
            }))
            return UndoResult::End::Failed;
        if (!m_run)
            return UndoResult::End::UnknownRun;
        if (m_run->undone)
            return UndoResult::End::AlreadyUndone;
        if (!madeUnder(*m_run, m_logon))
            return UndoResult::End::OtherLogon;
        if (writing)
            return UndoResult::End::StillWriting;
        // No row is added once the run has ended: these are all there are.
        m_total = m_run->toUndo;
        return std::nullopt;
    }

    // The connection, the table's key as the run named its rows, the search
    // for moved rows and the writer.
    bool open()
    {
        if (!m_steps.step(OpenConnection, [&] {
                m_connection = Oracle::OpenConnection(m_logon, Oracle::ConnectionProperty::Writing);
            }))
            return false;
        return m_steps.step(FindRows, [&] {
            m_key = m_undo.readKey(*m_connection, *m_run);
            WriteControl movedControl;
            movedControl.stopRequested = [this] { return m_observer.stopRequested(); };
            movedControl.waiting = [this] { m_activity->waiting(); };
            m_moved = std::make_unique<MovedRows>(*m_connection, m_key, *m_run, m_journal,
                                                  std::move(movedControl));
            m_writer = m_undo.makeWriter(*m_connection, m_logon, *m_run, m_key, *m_activity);
        });
    }

    // What became of a batch's rows, in one transaction: those written back
    // where their keys stay are restored. A row not found with its new value
    // may have moved: it is looked for by its contents. A row found by
    // neither but as it was read holds its old value: restored before, where
    // an undo had begun on it, else never written. No conflict either way.
    // Else it changed since: kept.
    void settleBatch(const QList<qint64>& written, QList<Journal::Row> conflicts)
    {
        QList<Journal::Mark> marks;
        int movedBack = 0;
        int movedFailed = 0;
        const bool marked = m_steps.step(WriteBack, [&] {
            m_moved->restore(conflicts, movedBack, movedFailed);
            for (const Journal::Row& row : conflicts) {
                const Journal::RowState state =
                    !stillAsRead(*m_connection, m_key, *m_run, row) ? Journal::RowState::Kept
                    : row.state == Journal::RowState::Undoing       ? Journal::RowState::Restored
                                                                    : Journal::RowState::Failed;
                marks.append({row.id, state, {}});
            }
            if (marks.isEmpty()) {
                m_journal.markUndo(written, Journal::RowState::Restored);
                return;
            }
            for (const qint64 row : written)
                marks.append({row, Journal::RowState::Restored, {}});
            m_journal.markRows(marks);
        });
        m_settled += movedBack;
        m_result.restored += movedBack;
        m_result.failed += movedFailed;
        if (!marked) { // still to undo
            m_result.failed += int(written.size() + conflicts.size());
            if (endsTheUndo(m_steps.lastErrorNumber())) {
                m_ended = true;
                m_result.connectionLost = m_steps.lastErrorNumber() == RuntimeError::ConnectionLost;
            }
            return;
        }
        m_settled += int(written.size());
        m_result.restored += int(written.size());
        for (const Journal::Mark& mark : marks.mid(0, conflicts.size())) {
            ++m_settled;
            if (mark.state == Journal::RowState::Restored)
                ++m_result.restored;
            else if (mark.state == Journal::RowState::Kept)
                ++m_result.conflicts;
        }
    }

    // What became of each write back, told when its batch went.
    void tell(const RowWriter::Results& results)
    {
        m_activity->settled();
        QList<qint64> written; // where the key stays: not yet marked
        QList<Journal::Row> conflicts;
        for (const RowWriter::Result& back : results) {
            const Journal::Row row = m_inFlight.take(back.ticket);
            ++m_told;
            if (back.errorNumber != 0) {
                // Refused, or written while the journal could not say so:
                // not counted, tried again by the next undo.
                ++m_result.failed;
                if (!m_ended) {
                    m_steps.failed(WriteBack, RuntimeError(back.errorNumber, back.error));
                    m_ended = endsTheUndo(back.errorNumber);
                    m_result.connectionLost = back.errorNumber == RuntimeError::ConnectionLost;
                }
                continue;
            }
            switch (back.outcome) {
            case RowWriter::Outcome::Written:
                if (back.keyAfter.isEmpty()) {
                    written << row.id;
                } else {
                    ++m_result.restored;
                    ++m_settled;
                }
                break;
            case RowWriter::Outcome::Conflict:
                conflicts << row;
                break;
            case RowWriter::Outcome::Stopped:
                m_stopped = true;
                m_unsent << row;
                break;
            case RowWriter::Outcome::Failed:
                ++m_result.failed;
                break;
            }
        }
        if (m_ended) // no row is read again
            conflicts.clear();
        if (!written.isEmpty() || !conflicts.isEmpty())
            settleBatch(written, conflicts);
        if (m_total > 0)
            m_steps.step(Progress, [&] {
                m_observer.setProgress(qMin(double(m_told) / double(m_total) * 100.0, 100.0));
            });
        m_activity->writing(m_told, m_total);
    }

    // The next page of rows to undo, newest first, their keys checked.
    void readPage(QList<Journal::Row>& page)
    {
        m_ended = !m_steps.step(FindRows, [&] {
            page = m_journal.rowsToUndo(m_runId, m_below, m_undo.m_options.pageRows);
            for (const Journal::Row& row : page)
                if (row.key.size() != m_key.size())
                    throw RuntimeError(RuntimeError::DriverError,
                                       QStringLiteral("The table's row key changed since the "
                                                      "run: its rows cannot be found again."));
        });
        if (!page.isEmpty())
            m_below = page.last().id;
    }

    // The journal learns first that a batch's rows may be written back, in
    // one transaction: a row found later with its old value was restored
    // by an undo whose mark was lost, not left unwritten by a run that was
    // killed. From then on the rows are in flight.
    bool markUndoing(const QList<Journal::Row>& rows)
    {
        QList<qint64> undoing;
        for (const Journal::Row& row : rows)
            if (row.state != Journal::RowState::Undoing)
                undoing << row.id;
        if (!m_steps.step(WriteBack,
                          [&] { m_journal.markUndo(undoing, Journal::RowState::Undoing); })) {
            ++m_result.failed;
            m_ended = true;
            return false;
        }
        for (const Journal::Row& row : rows)
            m_inFlight.insert(row.id, row);
        return true;
    }

    // Back from the new value to the old one, only where the new one stands.
    void writeBack(const QList<Journal::Row>& rows)
    {
        for (const Journal::Row& row : rows) {
            if ((m_stopped = m_observer.stopRequested()) || m_ended)
                return;
            m_steps.step(LoopHead, [] {});
            m_writer->write({row.key, row.newValue, row.oldValue, row.digest}, row.id);
        }
    }

    // Page after page, newest first, each written through before the next.
    void writePages()
    {
        const int batch = m_writer->batchRows();
        QList<Journal::Row> page;
        qsizetype marked = 0; // rows at the page's start marked ahead
        readPage(page);
        while (!page.isEmpty() && !m_stopped && !m_ended) {
            for (qsizetype first = 0; first < page.size() && !m_stopped && !m_ended;
                 first += batch) {
                const QList<Journal::Row> rows = page.mid(first, batch);
                if (first >= marked && !markUndoing(rows))
                    break;
                writeBack(rows);
            }
            if (m_stopped || m_ended)
                break;
            // While the writer works through the page, the next is read and its
            // first batch marked; then the page is written through, so that the
            // rows in flight never outgrow a page and a stop between pages
            // finds none under way.
            QList<Journal::Row> next;
            readPage(next);
            marked = !m_ended && markUndoing(next.mid(0, batch))
                         ? qMin<qsizetype>(batch, next.size())
                         : 0;
            if (m_ended)
                break;
            m_writer->flush();
            if ((m_stopped = m_observer.stopRequested()))
                break;
            page = std::move(next);
        }
    }

    void putBackUnsent()
    {
        // Rows marked undoing that were never written back (a stop or a failure
        // came first) are as they were: a row a killed run never wrote is not
        // found "undoing" by the next undo and counted restored. Should the
        // journal refuse, they are tried again all the same.
        QList<Journal::Mark> asBefore;
        for (const Journal::Row& row : m_unsent + m_inFlight.values())
            if (row.state != Journal::RowState::Undoing)
                asBefore.append({row.id, row.state, row.key});
        try {
            m_journal.markRows(asBefore);
        } catch (const RuntimeError&) {
        }
    }

    RunObserver& m_observer;
    Journal& m_journal;
    Undo& m_undo;
    const qint64 m_runId;
    const Logon& m_logon;
    StepRunner m_steps;
    UndoResult m_result;
    std::optional<Journal::Run> m_run;
    int m_total = 0;
    std::optional<RunActivity> m_activity;
    std::unique_ptr<Oracle::Connection> m_connection;
    bool m_stopped = false;
    bool m_ended = false;                   // the connection or the journal failed
    int m_told = 0;                         // rows whose write back was told
    int m_settled = 0;                      // rows marked restored, kept or never written
    QHash<qint64, Journal::Row> m_inFlight; // marked undoing, not yet told
    QList<Journal::Row> m_unsent;           // told stopped: not written
    Db::RowKey m_key;
    std::unique_ptr<MovedRows> m_moved;
    std::unique_ptr<RowWriter> m_writer; // after what its reports use: it goes first
    qint64 m_below = std::numeric_limits<qint64>::max(); // the next page's rows are below
};

UndoResult Undo::undo(qint64 runId, const Logon& logon)
{
    return Pass(*this, runId, logon).go();
}
