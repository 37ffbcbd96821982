#pragma once
// The tables of built-in functions and of @@ variables: adding one is one row plus one function.

#include <string>
#include <vector>

#include "sandbox/Engine.h"
#include "sandbox/sql/Ast.h"
#include "sandbox/sql/Value.h"

namespace sandbox::sql {

class Executor;

// @@SERVERNAME and SERVERPROPERTY('ServerName'): what a backup records as the server that made it.
extern const char* const kServerName;

struct ResultType {
    bool sameAsFirstArg = false;  // ISNULL, UPPER, ...: the first argument's type, nullable
    ColType type = ColType::Int;
    int maxChars = 0;
    bool variant = false;  // sql_variant of base type `type`
};

struct BuiltinFunction {
    const char* name;  // lower case
    int minArgs, maxArgs;
    ResultType result;  // always nullable
    Cell (*call)(Executor& x, const Session& s, const std::vector<Cell>& args);
    bool nullInNullOut;  // a Null argument gives Null without calling
};
const BuiltinFunction* findFunction(const std::string& name);
// The function (lower case) is one the release of this major version does not have.
bool arrivedAfter(const std::string& name, int major);

// COUNT, SUM, MIN, MAX, AVG: bound and evaluated over the rows of a group.
bool isAggregate(const std::string& name);
bool hasAggregate(const Expr& e);

// @@SPID, @@TRANCOUNT, ...
struct GlobalVariable {
    const char* name;  // lower case, without @@
    ColType type;
    int maxChars;
    bool nullable;
    Cell (*value)(const Executor& x, const Session& s);
};
const GlobalVariable* findGlobal(const std::string& name);

}  // namespace sandbox::sql
