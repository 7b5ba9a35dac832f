#pragma once

#include "db/Dialect.h"

#include <memory>

namespace Oracle
{

// PostgreSQL's statements.
std::unique_ptr<Dialect> MakePostgresDialect();

} // namespace Oracle
