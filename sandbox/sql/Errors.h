#pragma once
// Errors a statement raises, with SQL Server's number, state and severity, and what each ends.

#include <utility>
#include <vector>

#include "sandbox/Engine.h"

namespace sandbox::sql {

// kind decides what the error does to the batch: a compile error (name resolution, binding) ends
// the batch but, as on the real server, leaves an open transaction alone even under XACT_ABORT;
// a runtime error ends only its statement unless XACT_ABORT is on; RuntimeAbort ends the batch.
struct SqlError {
    enum class Kind { Runtime, RuntimeAbort, Compile };
    Message m;
    Kind kind = Kind::Runtime;
    std::vector<Message> more;     // sent after it, as 3621 follows a constraint conflict
    bool endsTransaction = false;  // the session's transaction is over whatever XACT_ABORT says
};

// Messages are built with designated initialisers, so number, state and severity cannot swap:
// raise({.number = 208, .state = 1, .severity = 16, .text = "..."}).
[[noreturn]] inline void raise(Message m, SqlError::Kind kind = SqlError::Kind::Runtime) {
    throw SqlError{std::move(m), kind, {}, false};
}
[[noreturn]] inline void compileError(Message m) {
    raise(std::move(m), SqlError::Kind::Compile);
}

}  // namespace sandbox::sql
