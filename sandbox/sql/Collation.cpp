// The collation's string rules: comparison without case and trailing spaces, DISTINCT keys, LIKE.
#include "sandbox/sql/Collation.h"

#include "sandbox/Text.h"

#include <vector>

namespace sandbox::sql {

char32_t foldCase(char32_t c) {
    if (c >= 'A' && c <= 'Z')
        return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return c + 32;
    return c;
}

static std::u32string_view trimRight(std::u32string_view s) {
    while (!s.empty() && s.back() == U' ')
        s.remove_suffix(1);
    return s;
}

// The shorter text is compared as if padded with spaces, which is what makes trailing spaces
// count for nothing.
int compareText(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        char32_t x = i < a.size() ? foldCase(nextCodePoint(a, i)) : U' ';
        char32_t y = j < b.size() ? foldCase(nextCodePoint(b, j)) : U' ';
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

std::string collationKey(std::string_view s) {
    std::u32string u = decodeUtf8(s);
    u.resize(trimRight(u).size());
    for (auto& c : u)
        c = foldCase(c);
    return encodeUtf8(u);
}

namespace {

// One element of a compiled pattern: % matches any run, the others exactly one character.
struct PatternItem {
    enum class Kind { Any, One, Literal, Class } kind = Kind::Literal;
    char32_t c = 0;
    bool negate = false;
    std::vector<std::pair<char32_t, char32_t>> ranges;  // Class: single characters are ranges of one

    bool matches(char32_t v) const {
        switch (kind) {
            case Kind::Any:
            case Kind::One:
                return true;
            case Kind::Literal:
                return foldCase(v) == foldCase(c);
            case Kind::Class: {
                char32_t fv = foldCase(v);
                bool found = false;
                for (auto [lo, hi] : ranges)
                    if ((fv >= foldCase(lo) && fv <= foldCase(hi)) || (v >= lo && v <= hi))
                        found = true;
                return found != negate;
            }
        }
        return false;
    }
};

// nullopt when the pattern can match nothing (an unclosed class or a trailing escape).
std::optional<std::vector<PatternItem>> compilePattern(std::u32string_view p, std::optional<char32_t> esc) {
    std::vector<PatternItem> out;
    for (size_t i = 0; i < p.size();) {
        PatternItem item;
        char32_t c = p[i];
        if (esc && c == *esc) {
            if (i + 1 >= p.size())
                return std::nullopt;
            item.c = p[i + 1];
            i += 2;
        } else if (c == U'%') {
            item.kind = PatternItem::Kind::Any;
            ++i;
            if (!out.empty() && out.back().kind == PatternItem::Kind::Any)
                continue;
        } else if (c == U'_') {
            item.kind = PatternItem::Kind::One;
            ++i;
        } else if (c == U'[') {
            item.kind = PatternItem::Kind::Class;
            size_t j = i + 1;
            if (j < p.size() && p[j] == U'^') {
                item.negate = true;
                ++j;
            }
            bool first = true;
            while (j < p.size() && (p[j] != U']' || first)) {
                if (j + 2 < p.size() && p[j + 1] == U'-' && p[j + 2] != U']') {
                    item.ranges.emplace_back(p[j], p[j + 2]);
                    j += 3;
                } else {
                    item.ranges.emplace_back(p[j], p[j]);
                    ++j;
                }
                first = false;
            }
            if (j >= p.size())
                return std::nullopt;
            i = j + 1;
        } else {
            item.c = c;
            ++i;
        }
        out.push_back(std::move(item));
    }
    return out;
}

// Greedy matching that backtracks only to the last %: linear in practice, never exponential.
bool matchItems(const std::vector<PatternItem>& p, std::u32string_view v) {
    size_t pi = 0, vi = 0;
    size_t starP = std::string::npos, starV = 0;
    while (vi < v.size()) {
        if (pi < p.size() && p[pi].kind == PatternItem::Kind::Any) {
            starP = pi++;
            starV = vi;
        } else if (pi < p.size() && p[pi].matches(v[vi])) {
            ++pi;
            ++vi;
        } else if (starP != std::string::npos) {
            pi = starP + 1;
            vi = ++starV;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi].kind == PatternItem::Kind::Any)
        ++pi;
    return pi == p.size();
}

}  // namespace

bool likeMatch(std::string_view value, std::string_view pattern, std::optional<char32_t> escape) {
    std::u32string v = decodeUtf8(value), p = decodeUtf8(pattern);
    auto items = compilePattern(p, escape);
    if (!items)
        return false;
    if (matchItems(*items, v))
        return true;
    std::u32string_view trimmed = trimRight(v);
    return trimmed.size() != v.size() && matchItems(*items, trimmed);
}

}  // namespace sandbox::sql
