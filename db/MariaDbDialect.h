#pragma once

#include "db/Dialect.h"

#include <memory>

namespace Db
{

// MariaDB's and MySQL's statements, for the server that `server` (the
// database's name and version, as the driver reports them) names: a batch
// is one JSON text made a table (MariaDB 10.6 and later, MySQL 8), else
// its rows selected one by one.
std::unique_ptr<Dialect> MakeMariaDbDialect(const QString& server);

} // namespace Db
