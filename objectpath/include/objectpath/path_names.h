// The lexical rules of object paths: the name rule, the namespace check and unescaping.
#pragma once

#include <string>
#include <string_view>

// Empty, or an ASCII letter followed by ASCII letters, digits and underscores.
bool isValidName(std::string_view text);

// Every backslash-separated piece (empty pieces included) satisfies the name rule.
bool isValidNamespace(std::string_view text);

// Drops each backslash and keeps the character after it, when the text looks escaped: it
// begins with four backslashes, or its first equals sign comes before its first backslash
// and that before its first double quote. Otherwise the text is returned as it stands.
std::string unescapePath(std::string_view text);

// The text up to its first NUL: every stored text ends there.
inline std::string_view upToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// ASCII-only case folding, as the classic locale does it.
inline char foldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Three-way comparison of two texts after case folding, as unsigned bytes, shorter first.
int compareFolded(std::string_view a, std::string_view b);
