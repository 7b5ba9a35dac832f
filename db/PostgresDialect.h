#pragma once

#include "db/Dialect.h"

#include <memory>

namespace Db
{

// PostgreSQL's statements.
std::unique_ptr<Dialect> MakePostgresDialect();

} // namespace Db
