#pragma once

#include "db/Dialect.h"

#include <memory>

namespace Oracle
{

// SQLite's statements.
std::unique_ptr<Dialect> MakeSqliteDialect();

} // namespace Oracle
