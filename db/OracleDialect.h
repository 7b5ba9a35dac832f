#pragma once

#include "db/Dialect.h"

#include <memory>

namespace Db
{

// Oracle's statements.
std::unique_ptr<Dialect> MakeOracleDialect();

} // namespace Db
