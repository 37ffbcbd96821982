#pragma once
// The collation's string rules: comparison without case and trailing spaces, DISTINCT keys, LIKE.

#include <optional>
#include <string>
#include <string_view>

namespace sandbox::sql {

// Case folding for the characters a case-insensitive collation folds that this server will meet:
// ASCII and Latin-1 letters. Chinese has no case.
char32_t foldCase(char32_t c);

// <0, 0, >0 as the collation orders a and b.
int compareText(std::string_view a, std::string_view b);
// The key under which equal texts fall together (DISTINCT).
std::string collationKey(std::string_view s);

// value LIKE pattern [ESCAPE escape]. Trailing spaces of the value do not stop a match; those of
// the pattern count.
bool likeMatch(std::string_view value, std::string_view pattern, std::optional<char32_t> escape = {});

}  // namespace sandbox::sql
