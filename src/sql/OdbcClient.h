#pragma once

#include <functional>
#include <memory>

#include <QStringList>

#include "sql/SqlClient.h"

// The real connection: QtSql's ODBC driver to SQL Server. The connection lives on a thread of its
// own; each call waits for it in a local event loop that excludes user input, so the window keeps
// painting but takes no input, and the call stays synchronous for the caller.
std::unique_ptr<SqlClient> makeOdbcClient();

// Run around every call that waits for the server (the GUI shows a busy cursor); the catalogue
// library knows no widgets. Set once at start, from the GUI thread.
void setSqlBusyHooks(std::function<void()> begin, std::function<void()> end);

// The ODBC drivers the driver manager knows, by name.
QStringList installedOdbcDrivers();
