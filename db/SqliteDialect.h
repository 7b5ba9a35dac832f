#pragma once

#include "db/Dialect.h"

#include <memory>

namespace Db
{

// SQLite's statements.
std::unique_ptr<Dialect> MakeSqliteDialect();

} // namespace Db
