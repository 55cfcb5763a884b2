// WildcardMatch as one table: extension rules, sets, ranges, escapes,
// negation and case.
#include "wildcard.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* name;
    const char* pattern;
    bool ignoreCase;
    bool match;
};

const Case kCases[] = {
    // "*.*" also matches names without an extension; "*." only those.
    {"readme", "*.*", true, true},
    {"a.txt", "*.*", true, true},
    {"", "*.*", true, true},
    {"a.b.c", "a*.*", true, true},
    {"readme", "*.", true, true},
    {"a.txt", "*.", true, false},
    {"a.", "*.", true, false},
    {"readme", "r*.", true, true},
    {"readme", "x*.", true, false},
    // Plain characters, "?" and "*".
    {"a.txt", "*.txt", true, true},
    {"A.TXT", "*.txt", true, true},
    {"A.TXT", "*.txt", false, false},
    {"a.txt+", "*.txt", true, false},
    {"abc", "a?c", true, true},
    {"ac", "a?c", true, false},
    {"abc", "abc?", true, false},
    {"abc", "*", true, true},
    {"", "*", true, true},
    {"", "**", true, false},
    {"abcabc", "*bc", true, true},
    {"abcab", "*bc", true, false},
    {"aXbXc", "a*b*c", true, true},
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "*a*a*a*a*a*a*a*a*a*a*a*a*b", true, false},
    // Sets and ranges.
    {"b.txt", "[abc].txt", true, true},
    {"d.txt", "[abc].txt", true, false},
    {"m", "[a-z]", false, true},
    {"M", "[a-z]", false, false},
    {"M", "[a-z]", true, true},
    {"z", "[a-z]", true, true},
    {"-", "[-a]", true, true},
    {"a", "[-a]", true, true},
    {"b", "[-a]", true, false},
    {"x", "[!abc]", true, true},
    {"a", "[!abc]", true, false},
    {"x", "[^abc]", true, true},
    {"b", "[^abc]", true, false},
    {"", "[abc]", true, false},
    {"]", "[\\]]", true, true},
    {"a", "[\\]]", true, false},
    {"a", "[abc", true, false},
    {"[", "[", true, false},
    {"7.log", "[0-9].log", true, true},
    {"x.log", "[0-9].log", true, false},
    // Escapes outside a set.
    {"*", "\\*", true, true},
    {"a", "\\*", true, false},
    {"a?", "a\\?", true, true},
    {"ab", "a\\?", true, false},
    {"a\\", "a\\", true, false},
    {"[x]", "\\[x]", true, true},
};

TEST(WildcardMatch, Table) {
    for (const Case& c : kCases) {
        EXPECT_EQ(tesview::WildcardMatch(c.name, c.pattern, c.ignoreCase), c.match)
            << "name \"" << c.name << "\" pattern \"" << c.pattern << "\" ignoreCase " << c.ignoreCase;
    }
}

}  // namespace
