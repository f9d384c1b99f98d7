#pragma once
// One compiled regular expression (ICU syntax), for the rules that check what
// the page and the stored files send us. Compiled once, usable from any
// thread: each use makes its own matcher.
#include <memory>
#include <string>
#include <string_view>

class Pattern {
public:
    enum class Case { sensitive, insensitive };

    // A pattern that does not compile is a fault in the program, not in the
    // input: it throws std::logic_error.
    explicit Pattern(std::string_view pattern, Case letterCase = Case::sensitive);
    ~Pattern();
    Pattern(const Pattern&) = delete;
    Pattern& operator=(const Pattern&) = delete;

    // True when the pattern matches the whole text. Stricter than a search
    // between "^" and "$": those let a final line break through ("name\n"),
    // which no name or id we check may hold. Text that is not valid UTF-8
    // never matches.
    bool matchesWhole(std::string_view text) const;

    // Whether the pattern matches anywhere in the text.
    bool foundIn(std::string_view text) const;

    // The text with every match replaced by `replacement` (taken literally).
    std::string replaceAll(std::string_view text, std::string_view replacement) const;

private:
    struct Compiled;
    std::unique_ptr<Compiled> compiled_;
};
