#pragma once
// The page's key texts ("Cmd+Shift+Z", "Ctrl+Tab", "F") and what they become on
// this desktop. The page names the modifiers of the platform it was written
// for; the Command key it means is the Primary key (Ctrl) here, and its
// Control becomes Super so that the two stay distinct.
#include <optional>
#include <string>
#include <string_view>

struct KeyEquivalent {
    enum Modifier : unsigned {
        command = 1u << 0,
        control = 1u << 1,
        option = 1u << 2,
        shift = 1u << 3,
    };

    // "\t" for Tab, otherwise exactly one user-perceived character in lower case (UTF-8).
    std::string key;
    // The set of named modifiers; none means the key alone.
    unsigned modifiers = 0;

    // Splits at "+", drops empty pieces; the last piece is the key, each earlier
    // one a modifier name ("Cmd", "Ctrl", "Option", "Shift", exactly). Nothing
    // when there are no pieces, a name is unknown, or the key is neither "Tab"
    // nor a single character.
    static std::optional<KeyEquivalent> parse(std::string_view text);

    // The modifiers as a GTK accelerator prefix, e.g. "<Control><Shift>".
    std::string acceleratorModifiers() const;

    bool operator==(const KeyEquivalent&) const = default;
};
