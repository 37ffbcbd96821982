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
// Decimal: a declaration's precision, scale and money flag; a number's text at a scale ("" when it
// is no number), rounded half away from zero as the server rounds.
void decimalFromDecl(const std::string& declared, Column* c);
std::string atScale(const std::string& number, int scale);
int decimalScale(const Cell& c);  // digits after the point of a Decimal, 0 for another type
Cell decimalArith(const std::string& op, const Cell& a, const Cell& b);

// The type CONVERT and CAST name, by its name in lower case and its length (characters); nullopt
// for a name that is not a type. char and nchar keep their name: their values are padded.
std::optional<Column> castTarget(const std::string& name, int length);
// CONVERT(target, c): a text longer than the target's length is cut to it, as the server does.
Cell convertCell(const Cell& c, const Column& target);

// Compares two non-null values after the conversion the server applies by type precedence.
int compareCells(const Cell& a, const Cell& b);
int orderCells(const Cell& a, const Cell& b);  // nulls first, as ORDER BY sorts them
std::string distinctKey(const Cell& c);        // equal under the collation: equal keys

std::string trimSpaces(const std::string& s);
std::string padRight(const std::string& s, size_t chars);  // nchar columns
std::string nowText();                                     // datetime text of this moment, UTC

}  // namespace sandbox::sql
