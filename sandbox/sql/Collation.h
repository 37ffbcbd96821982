#pragma once
// The collation's string rules: comparison without case, width, kana and trailing spaces, DISTINCT keys,
// LIKE.

#include <optional>
#include <string>
#include <string_view>

namespace sandbox::sql {

// Case folding for the characters a case-insensitive collation folds that this server will meet:
// ASCII and Latin-1 letters. Chinese has no case.
char32_t foldCase(char32_t c);

// The character Chinese_PRC_CI_AS compares c as: case folded as above, and, since the name holds
// neither _WS nor _KS, width and kana too ("Collation and Unicode support": a collation without
// _WS treats the full-width and half-width forms of a character as identical; without _KS,
// hiragana and katakana). Full-width ASCII (U+FF01-U+FF5E) and the ideographic space U+3000 become
// their ASCII forms; katakana (U+30A1-U+30F6) become hiragana.
char32_t foldChar(char32_t c);

// <0, 0, >0 as the collation orders a and b.
int compareText(std::string_view a, std::string_view b);
// The key under which equal texts fall together (DISTINCT).
std::string collationKey(std::string_view s);

// value LIKE pattern [ESCAPE escape]. Trailing spaces of the pattern count. Those of the value do
// not stop an ASCII match (every operand char/varchar) but do stop a Unicode one (any operand
// nchar/nvarchar) (LIKE (Transact-SQL): "When you use Unicode data (nchar or nvarchar data types)
// with LIKE, trailing blanks are significant; however, for non-Unicode data, trailing blanks
// aren't significant").
bool likeMatch(std::string_view value, std::string_view pattern, std::optional<char32_t> escape = {},
               bool unicode = false);

}  // namespace sandbox::sql
