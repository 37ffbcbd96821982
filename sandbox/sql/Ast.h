#pragma once
// The syntax tree of a batch: expressions, table references, select lists and statements.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/Engine.h"

namespace sandbox::sql {

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;
struct Statement;

struct Expr {
    enum class Kind {
        Null,
        Int,
        Float,
        String,
        Binary,    // 0x...: s holds the bytes
        Column,    // parts: [table.]column
        Star,      // the * of count(*)
        Func,      // name (lower case), args
        Global,    // @@name (lower case, without @@)
        Variable,  // @name
        Neg,
        Not,
        And,
        Or,
        Compare,   // op: = <> < > <= >=
        Arith,     // op: + - * / %
        Like,      // args: value, pattern[, escape]; negated
        In,        // args: value, list...; negated
        IsNull,    // negated: IS NOT NULL
        Between,   // args: value, low, high; negated
        Exists,    // query: EXISTS (SELECT ...)
        Subquery,  // query: (SELECT ...), one value
    };
    Kind kind = Kind::Null;
    std::string op;
    bool negated = false;
    bool unicode = false;  // N'...'
    int64_t i = 0;
    double f = 0;
    std::string s;  // literal text, function or global name
    std::vector<std::string> parts;
    std::vector<ExprPtr> args;
    bool distinctArg = false;  // count(distinct x)
    Column castTo;             // Func "convert" (CONVERT and CAST): the target type, name in lower case
    mutable int column = -1;   // Column: its index in the source, set when the statement is bound
    std::shared_ptr<Statement> query;  // Exists, Subquery
};

struct TableRef {
    std::vector<std::string> parts;  // database, schema, table as written (brackets removed)
    std::string written;             // the parts joined with "." for messages
    std::string alias;
    bool updLock = false;  // WITH (UPDLOCK ...): read as a writer would, held to the transaction's end
};

// [INNER] JOIN or LEFT [OUTER] JOIN, with its ON condition.
struct JoinClause {
    TableRef table;
    ExprPtr on;
    bool left = false;
};

struct SelectItem {
    ExprPtr expr;  // null for *
    std::string alias;
    std::string starQualifier;  // t.* (empty for a bare *)
};

struct OrderItem {
    ExprPtr expr;
    bool desc = false;
};

struct Statement {
    enum class Kind {
        Select,
        Delete,
        Insert,
        DropDatabase,
        DropOther,
        Use,
        Set,
        BeginTran,
        CommitTran,
        RollbackTran,
        Exec,
        Backup,
        Restore,
        Kill,
        If,             // where: the condition; body, orElse
        Block,          // BEGIN ... END: body
        Try,            // BEGIN TRY body END TRY BEGIN CATCH orElse END CATCH
        Print,          // procArgs[0]
        Raiserror,      // procArgs: message, severity, state, arguments
        AlterDatabase,  // names[0]; option: the SET word; with: WITH words
        Return,         // ends the batch
    };
    Kind kind = Kind::Select;
    std::string text;  // the statement as written, without a closing ";"
    int line = 1;

    // Select / Delete
    bool distinct = false;
    std::optional<int64_t> top;
    std::vector<SelectItem> items;
    std::optional<TableRef> from;   // the target of a Delete
    std::vector<JoinClause> joins;  // Select: the tables joined to from
    ExprPtr where;
    std::vector<OrderItem> order;

    std::vector<std::string> names;  // DropDatabase (one or more), Use (one), DropOther (object, kind)
    std::string option;              // Set: option name in upper case; Restore: DATABASE, VERIFYONLY, ...
    std::string optionValue;         // Set: ON / OFF / a number / a word
    std::string proc;                // Exec: procedure name as written
    std::vector<ExprPtr> procArgs;

    // Insert: the target in from, its column list in names, one list of values per row.
    std::vector<std::vector<ExprPtr>> values;
    // Backup / Restore: the database (empty for VERIFYONLY), the file, WITH options in upper case.
    std::string device;
    std::vector<std::string> with;
    int64_t killSpid = 0;                 // Kill
    std::vector<Statement> body, orElse;  // If, Block, Try
};

struct ParseResult {
    std::vector<Statement> statements;
    std::vector<Message> errors;  // non-empty: the batch does not run
};

}  // namespace sandbox::sql
