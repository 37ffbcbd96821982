#pragma once
// Sources of rows: a table of the installation or a catalogue view, and the one table of catalogue views.

#include <cstdint>
#include <string>
#include <vector>

#include "sandbox/Engine.h"

namespace sandbox::sql {

class Executor;
class Query;
struct JoinClause;

// The rows a statement reads: a table of TqSystem or one of the server's catalogue views.
struct Source {
    std::string name;  // as the catalogue spells it
    std::string alias;
    std::vector<Column> cols;
    std::vector<std::vector<Value>> rows;
    std::vector<int64_t> rowids;  // tables only
    bool userTable = false;
    bool updLock = false;            // read WITH (UPDLOCK)
    mutable std::vector<char> used;  // columns a statement names; the others are not read
    // A join: the sources it combines, each column's table (alias or name), and the clauses;
    // its rows are made when the statement runs (Join.cpp).
    std::vector<Source> parts;
    std::vector<std::string> qualifiers;
    const std::vector<JoinClause>* joins = nullptr;
};

struct Resolved {
    std::string database;  // canonical
    std::string table;     // canonical, or the view name in lower case
    bool view = false;
};

// A catalogue view: its name (lower case), the id OBJECT_ID gives it, and what fills it.
// database: the database the name was resolved in; self: the session that reads.
struct CatalogView {
    const char* name;
    int objectId;
    void (*fill)(Executor& x, Source& src, const Session& self, const std::string& database);
};
const CatalogView* findView(const std::string& name);
// Removes the columns of view `name` that the release of major version `major` does not have, so
// that naming one fails as it does there (207).
void dropLaterColumns(Source& src, const std::string& name, int major);

// A type as sys.types lists it; user_type_id equals system_type_id for the system types.
struct SqlType {
    const char* name;
    int id;
    int maxLength;
};
extern const SqlType kTypes[];
extern const size_t kTypeCount;
const SqlType* findType(int id);
int typeIdOf(ColType t);

// The id of a table of the installation, stable across runs.
uint32_t objectIdFor(const std::string& name);

// The columns of a table row read from the store: only those the statement uses.
void readRow(Query& q, const Source& src, std::vector<Value>& row);

}  // namespace sandbox::sql
