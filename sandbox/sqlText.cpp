#include "sqlText.h"

namespace sandbox::sql {

std::u32string decodeUtf8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 99;
        char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        bool ok = extra != 99 && i + extra < s.size();
        for (size_t k = 1; ok && k <= extra; ++k) {
            auto n = static_cast<unsigned char>(s[i + k]);
            ok = (n & 0xC0) == 0x80;
            cp = (cp << 6) | (n & 0x3F);
        }
        if (!ok) {  // a stray byte stands for itself rather than swallowing what follows
            out.push_back(c);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

std::string encodeUtf8(std::u32string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char32_t c : s) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

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

namespace {
// Reads one code point of UTF-8 at i, as decodeUtf8 does, without building a string.
char32_t nextCodePoint(std::string_view s, size_t& i) {
    auto c = static_cast<unsigned char>(s[i]);
    size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 99;
    if (extra == 0 || extra == 99 || i + extra >= s.size()) {
        ++i;
        return c;
    }
    char32_t cp = c & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
        auto n = static_cast<unsigned char>(s[i + k]);
        if ((n & 0xC0) != 0x80) {
            ++i;
            return c;
        }
        cp = (cp << 6) | (n & 0x3F);
    }
    i += extra + 1;
    return cp;
}
}  // namespace

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

struct Matcher {
    std::u32string_view p;
    std::optional<char32_t> esc;

    // Matches one bracket class at p[pi] == '['; returns the index after ']' or npos when the
    // class is not closed (an unclosed class matches nothing).
    size_t matchClass(size_t pi, char32_t c, bool& hit) const {
        size_t i = pi + 1;
        bool negate = false;
        if (i < p.size() && p[i] == U'^') {
            negate = true;
            ++i;
        }
        bool found = false;
        bool first = true;
        char32_t fc = foldCase(c);
        while (i < p.size() && (p[i] != U']' || first)) {
            char32_t lo = p[i];
            if (i + 2 < p.size() && p[i + 1] == U'-' && p[i + 2] != U']') {
                char32_t hi = p[i + 2];
                char32_t flo = foldCase(lo), fhi = foldCase(hi);
                if ((fc >= flo && fc <= fhi) || (c >= lo && c <= hi))
                    found = true;
                i += 3;
            } else {
                if (foldCase(lo) == fc)
                    found = true;
                ++i;
            }
            first = false;
        }
        if (i >= p.size())
            return std::u32string_view::npos;
        hit = found != negate;
        return i + 1;
    }

    bool match(std::u32string_view v, size_t pi, size_t vi) const {
        while (pi < p.size()) {
            char32_t pc = p[pi];
            if (esc && pc == *esc) {
                if (pi + 1 >= p.size())
                    return false;  // a trailing escape matches nothing
                if (vi >= v.size() || foldCase(v[vi]) != foldCase(p[pi + 1]))
                    return false;
                pi += 2;
                ++vi;
            } else if (pc == U'%') {
                while (pi < p.size() && p[pi] == U'%')
                    ++pi;
                if (pi == p.size())
                    return true;
                for (size_t k = vi; k <= v.size(); ++k)
                    if (match(v, pi, k))
                        return true;
                return false;
            } else if (pc == U'_') {
                if (vi >= v.size())
                    return false;
                ++pi;
                ++vi;
            } else if (pc == U'[') {
                if (vi >= v.size())
                    return false;
                bool hit = false;
                size_t next = matchClass(pi, v[vi], hit);
                if (next == std::u32string_view::npos || !hit)
                    return false;
                pi = next;
                ++vi;
            } else {
                if (vi >= v.size() || foldCase(v[vi]) != foldCase(pc))
                    return false;
                ++pi;
                ++vi;
            }
        }
        return vi == v.size();
    }
};

}  // namespace

bool likeMatch(std::string_view value, std::string_view pattern, std::optional<char32_t> escape) {
    std::u32string v = decodeUtf8(value), p = decodeUtf8(pattern);
    Matcher m{p, escape};
    if (m.match(v, 0, 0))
        return true;
    std::u32string_view trimmed = trimRight(v);
    return trimmed.size() != v.size() && m.match(trimmed, 0, 0);
}

}  // namespace sandbox::sql
