#pragma once

#include <memory>

#include "SqlClient.h"

// The real connection: QtSql's ODBC driver to SQL Server.
std::unique_ptr<SqlClient> makeOdbcClient();
