// Wildcard matching of Select Group. The matcher is the plain recursive
// one -- "*" tries every remaining suffix of the name -- with a table of
// (name position, pattern position) pairs already known to fail, so that
// patterns with many stars stay linear in the table size instead of
// exponential in the number of stars.
#include "wildcard.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace tesview {
namespace {

char Lower(char c) {
    return static_cast<char>(reinterpret_cast<UINT_PTR>(
        CharLowerA(reinterpret_cast<LPSTR>(static_cast<UINT_PTR>(static_cast<unsigned char>(c))))));
}

char Upper(char c) {
    return static_cast<char>(reinterpret_cast<UINT_PTR>(
        CharUpperA(reinterpret_cast<LPSTR>(static_cast<UINT_PTR>(static_cast<unsigned char>(c))))));
}

class Matcher {
public:
    Matcher(const char* name, const std::string& pattern, bool ignoreCase)
        : name_(name), nameLength_(strlen(name)), pattern_(pattern), ignoreCase_(ignoreCase),
          failed_((nameLength_ + 1) * (pattern.size() + 1), 0) {}

    bool Match(size_t n, size_t p) {
        while (p < pattern_.size()) {
            char pc = pattern_[p];
            if (pc == '*') {
                if (p + 1 == pattern_.size()) return true;
                // Every suffix that still has a character; the empty one is
                // not tried.
                for (size_t k = n; k < nameLength_; ++k) {
                    if (Tried(k, p + 1)) continue;
                    if (Match(k, p + 1)) return true;
                    MarkFailed(k, p + 1);
                }
                return false;
            }
            if (n >= nameLength_) return false;
            char c = name_[n];
            if (pc == '?') {
                ++n, ++p;
            } else if (pc == '[') {
                size_t next;
                if (!MatchSet(c, p + 1, &next)) return false;
                ++n, p = next;
            } else {
                if (pc == '\\') {
                    if (p + 1 == pattern_.size()) return false;
                    pc = pattern_[++p];
                }
                if (!Equal(c, pc)) return false;
                ++n, ++p;
            }
        }
        return n == nameLength_;
    }

private:
    bool Equal(char a, char b) const {
        if (a == b) return true;
        return ignoreCase_ && Lower(a) == Lower(b);
    }

    // The set starts at pattern position p (after "["). On a match *next is
    // the position after the closing "]". A set without "]" never matches.
    bool MatchSet(char c, size_t p, size_t* next) const {
        bool negate = false;
        if (p < pattern_.size() && (pattern_[p] == '!' || pattern_[p] == '^')) {
            negate = true;
            ++p;
        }
        bool found = false;
        bool first = true;
        for (;;) {
            if (p >= pattern_.size()) return false;
            char lo = pattern_[p];
            if (lo == ']') break;
            if (lo == '-' && first) {
                found |= Equal(c, '-');
                ++p;
                first = false;
                continue;
            }
            if (lo == '\\') {
                if (++p >= pattern_.size()) return false;
                lo = pattern_[p];
            }
            ++p;
            char hi = lo;
            if (p + 1 < pattern_.size() && pattern_[p] == '-' && pattern_[p + 1] != ']') {
                ++p;
                hi = pattern_[p];
                if (hi == '\\') {
                    if (++p >= pattern_.size()) return false;
                    hi = pattern_[p];
                }
                ++p;
            }
            found |= InRange(c, lo, hi);
            first = false;
        }
        *next = p + 1;
        return found != negate;
    }

    bool InRange(char c, char lo, char hi) const {
        auto in = [&](char x) {
            unsigned char u = static_cast<unsigned char>(x);
            return u >= static_cast<unsigned char>(lo) && u <= static_cast<unsigned char>(hi);
        };
        if (in(c)) return true;
        return ignoreCase_ && (in(Lower(c)) || in(Upper(c)));
    }

    bool Tried(size_t n, size_t p) const { return failed_[n * (pattern_.size() + 1) + p] != 0; }
    void MarkFailed(size_t n, size_t p) { failed_[n * (pattern_.size() + 1) + p] = 1; }

    const char* name_;
    size_t nameLength_;
    const std::string& pattern_;
    bool ignoreCase_;
    std::vector<char> failed_;
};

}  // namespace

bool WildcardMatch(const char* name, const char* pattern, bool ignoreCase) {
    if (!name || !pattern) return false;
    std::string p = pattern;
    size_t length = p.size();
    if (length >= 3 && p.compare(length - 3, 3, "*.*") == 0) {
        p.erase(length - 2);  // "x*.*" -> "x*": names without an extension too
    } else if (length >= 2 && p.compare(length - 2, 2, "*.") == 0) {
        if (strchr(name, '.')) return false;
        p.erase(length - 1);  // "x*." -> "x*"
    }
    Matcher matcher(name, p, ignoreCase);
    return matcher.Match(0, 0);
}

}  // namespace tesview
