#pragma once
// Parsing a batch, whole before any of it runs: a syntax error anywhere means nothing runs.

#include <string>

#include "sandbox/sql/Ast.h"

namespace sandbox::sql {

ParseResult parseBatch(const std::string& sql);

// Compares two identifiers the way the server compares names: without regard to case.
bool sameName(const std::string& a, const std::string& b);

// The bytes of a binary literal's hex digits (the part after 0x).
std::string fromHex(const std::string& digits);

}  // namespace sandbox::sql
