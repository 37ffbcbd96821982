// A statement the store refuses: one table from the store's result codes to SQL Server's errors.
#include "sandbox/sql/StoreErrors.h"

namespace sandbox::sql {

namespace {

using Site = StoreFailureSite;

// A trigger that raises stands for a T-SQL trigger that raises an error with its own text:
// "When msg_str is specified, RAISERROR raises an error message with an error number of 50000."
// (RAISERROR (Transact-SQL), learn.microsoft.com/sql/t-sql/language-elements/raiserror-transact-sql)
SqlError raisedInTrigger(const StoreFailure& f, const Site&) {
    return {
        {.number = 50000, .state = 1, .severity = 16, .text = f.text}, SqlError::Kind::Runtime, {}, false};
}

// Msg 547 and the 3621 that follows it, as the server sends them for a statement that a constraint
// stopped (Database engine events and errors 0 to 999 / 3000 to 3999, learn.microsoft.com/sql/
// relational-databases/errors-events/database-engine-events-and-errors-0-to-999). The store does not
// name the constraint; its own words stand in for the name.
SqlError constraintConflict(const StoreFailure& f, const Site& site) {
    const std::string kind = (f.code == SQLITE_CONSTRAINT_FOREIGNKEY) ? "REFERENCE" : "CHECK";
    return {{.number = 547,
             .state = 0,
             .severity = 16,
             .text = "The " + site.verb + " statement conflicted with the " + kind + " constraint \"" +
                     f.text + "\". The conflict occurred in database \"" + site.database +
                     "\", table \"dbo." + site.table + "\"."},
            SqlError::Kind::Runtime,
            {{.number = 3621, .state = 0, .severity = 0, .text = "The statement has been terminated."}},
            false};
}

// Msg 515: a trigger's write that left a NOT NULL column empty.
SqlError nullRefused(const StoreFailure& f, const Site& site) {
    return {
        {.number = 515,
         .state = 2,
         .severity = 16,
         .text = "Cannot insert the value NULL into column, table '" + site.database + ".dbo." + site.table +
                 "'; column does not allow nulls. " + site.verb + " fails. (" + f.text + ")"},
        SqlError::Kind::Runtime,
        {{.number = 3621, .state = 0, .severity = 0, .text = "The statement has been terminated."}},
        false};
}

// Msg 2627: a trigger's write that duplicated a key.
SqlError keyViolated(const StoreFailure& f, const Site& site) {
    return {{.number = 2627,
             .state = 1,
             .severity = 14,
             .text = "Violation of PRIMARY KEY constraint '" + f.text +
                     "'. Cannot insert duplicate key in object 'dbo." + site.table + "'."},
            SqlError::Kind::Runtime,
            {{.number = 3621, .state = 0, .severity = 0, .text = "The statement has been terminated."}},
            false};
}

// Msg 1222, as a lock that another holder keeps past the wait (MSSQLSERVER_1222).
SqlError lockTimeout(const StoreFailure&, const Site&) {
    return {{.number = 1222, .state = 51, .severity = 16, .text = "Lock request time out period exceeded."},
            SqlError::Kind::Runtime,
            {},
            false};
}

// Msg 1105: no room left for the data (MSSQLSERVER_1105).
SqlError storeFull(const StoreFailure&, const Site& site) {
    return {{.number = 1105,
             .state = 2,
             .severity = 17,
             .text = "Could not allocate space for object 'dbo." + site.table + "' in database '" +
                     site.database + "' because the 'PRIMARY' filegroup is full."},
            SqlError::Kind::RuntimeAbort,
            {},
            false};
}

// Msg 823 for anything else the file underneath refused (MSSQLSERVER_823): the batch ends.
SqlError storeBroken(const StoreFailure& f, const Site& site) {
    return {{.number = 823,
             .state = 2,
             .severity = 24,
             .text = "The operating system returned error " + std::to_string(f.code) + "(" + f.text +
                     ") to SQL Server during a " + site.verb + " in database '" + site.database + "'."},
            SqlError::Kind::RuntimeAbort,
            {},
            false};
}

struct Rule {
    int code;  // an extended result code, or a primary one for all its extensions
    SqlError (*error)(const StoreFailure& f, const Site& site);
};

const Rule kRules[] = {
    {SQLITE_CONSTRAINT_TRIGGER, &raisedInTrigger},
    {SQLITE_CONSTRAINT_FOREIGNKEY, &constraintConflict},
    {SQLITE_CONSTRAINT_CHECK, &constraintConflict},
    {SQLITE_CONSTRAINT_NOTNULL, &nullRefused},
    {SQLITE_CONSTRAINT_PRIMARYKEY, &keyViolated},
    {SQLITE_CONSTRAINT_UNIQUE, &keyViolated},
    {SQLITE_CONSTRAINT, &constraintConflict},
    {SQLITE_BUSY, &lockTimeout},
    {SQLITE_LOCKED, &lockTimeout},
    {SQLITE_FULL, &storeFull},
};

}  // namespace

SqlError serverError(const StoreFailure& f, const StoreFailureSite& site) {
    for (const Rule& r : kRules) {
        if (r.code == f.code)
            return r.error(f, site);
    }
    for (const Rule& r : kRules) {
        if (r.code == (f.code & 0xFF))
            return r.error(f, site);
    }
    return storeBroken(f, site);
}

}  // namespace sandbox::sql
