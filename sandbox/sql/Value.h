#pragma once
// Values as the server types them: conversions by type precedence, comparison, the keys of DISTINCT.

#include <cstdint>
#include <optional>
#include <string>

#include "sandbox/Engine.h"

namespace sandbox::sql {

// A value with the type the client will see.
struct Cell {
    Value v;
    ColType t = ColType::Int;
    bool ansi = false;  // a varchar literal rather than nvarchar text (only for conversion messages)
};

bool isIntType(ColType t);
std::string typeName(ColType t);
ColType typeFromDecl(const std::string& declared, int* maxChars);  // a SQLite column's declared type
Column col(std::string name, ColType t, int maxChars = 128, bool nullable = false);

Cell nullCell(ColType t = ColType::Int);
Cell intCell(int64_t v, ColType t = ColType::Int);
Cell textCell(std::string s);
Cell boolCell(std::optional<bool> b);
std::optional<bool> truth(const Cell& c);  // a condition's value: true, false or unknown
std::string cellText(const Cell& c);

// Conversions as the server applies them; a text that is not a number raises 245 or 8114.
int64_t toInt(const Cell& c, ColType target);
double toFloat(const Cell& c);
// The value as a column of type t carries it to the client.
Value convertOut(Cell&& c, ColType t);

// Compares two non-null values after the conversion the server applies by type precedence.
int compareCells(const Cell& a, const Cell& b);
int orderCells(const Cell& a, const Cell& b);  // nulls first, as ORDER BY sorts them
std::string distinctKey(const Cell& c);        // equal under the collation: equal keys

std::string trimSpaces(const std::string& s);
std::string padRight(const std::string& s, size_t chars);  // nchar columns
std::string nowText();                                     // datetime text of this moment, UTC

}  // namespace sandbox::sql
