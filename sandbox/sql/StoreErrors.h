#pragma once
// A statement the store refuses: one table from the store's result codes to SQL Server's errors.

#include <string>

#include "sandbox/sql/Errors.h"
#include "sandbox/sql/Store.h"

namespace sandbox::sql {

// Where the failure met the statement, for the words of the message.
struct StoreFailureSite {
    std::string verb;      // DELETE, SELECT, DROP DATABASE, COMMIT TRANSACTION, ...
    std::string table;     // the statement's table, if it has one
    std::string database;  // the database it works in
};

SqlError serverError(const StoreFailure& f, const StoreFailureSite& site);

}  // namespace sandbox::sql
