#pragma once
// Text helpers both sides share: the one UTF-8 decoder and encoder, UTF-16 conversions, ASCII lower case.

#include <string>
#include <string_view>

namespace sandbox {

// The code point at s[i], advancing i past it. A byte that does not start a well-formed sequence
// (a stray continuation byte, a truncated or broken sequence) is one U+FFFD and costs one byte, so
// the text after it is still read.
char32_t nextCodePoint(std::string_view s, size_t& i);

void appendUtf8(std::string& out, char32_t cp);
std::u32string decodeUtf8(std::string_view s);
std::string encodeUtf8(std::u32string_view s);

std::u16string utf8ToUtf16(std::string_view s);
std::string utf16ToUtf8(std::u16string_view s);  // an unpaired surrogate becomes U+FFFD

// ASCII letters only: keywords, names of functions and logins; other bytes pass unchanged.
std::string lower(std::string s);

}  // namespace sandbox
