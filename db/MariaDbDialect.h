#pragma once

#include "db/Dialect.h"

#include <memory>

namespace Db
{

// MariaDB's and MySQL's statements.
std::unique_ptr<Dialect> MakeMariaDbDialect();

} // namespace Db
