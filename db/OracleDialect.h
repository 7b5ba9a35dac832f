#pragma once

#include "db/Dialect.h"

#include <memory>

namespace Oracle
{

// Oracle's statements.
std::unique_ptr<Dialect> MakeOracleDialect();

} // namespace Oracle
