#include "change/RowWriter.h"

#include "app/RuntimeError.h"

QString NotAppliedMessage()
{
    return QStringLiteral("The database did not apply the change to this row.");
}

RowWriter::Result RowWriter::Told(qint64 ticket, Outcome outcome)
{
    Result result;
    result.ticket = ticket;
    result.outcome = outcome;
    return result;
}

RowWriter::Result RowWriter::Failure(qint64 ticket, const RuntimeError& error)
{
    Result result = Told(ticket, Outcome::Failed);
    result.errorNumber = error.number();
    result.error = error.description();
    return result;
}
