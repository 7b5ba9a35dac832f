#pragma once

#include "change/RowWriter.h"

#include <functional>

// Writes nothing: hands every change to `seen`, as if it were written.
class DryRunWriter : public RowWriter
{
public:
    explicit DryRunWriter(std::function<void(const Change&)> seen) : m_seen(std::move(seen)) {}

    void write(const Change& change, qint64 ticket) override
    {
        if (m_seen)
            m_seen(change);
        Result result;
        result.ticket = ticket;
        result.outcome = Outcome::Written;
        settle({result});
        done({result});
    }

private:
    std::function<void(const Change&)> m_seen;
};
