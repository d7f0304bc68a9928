#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>

// A parameterised case's name built from its content, so that a failing case
// can be run again by name: letters and digits stay, every other printable
// character becomes one underscore (no two inputs that differ only in
// punctuation share a name), a control or non-ASCII byte its hex code, and
// the parts are joined by an underscore; a null part reads "none", an empty
// one "empty".
inline std::string caseName(std::initializer_list<const char *> parts)
{
    std::string name;
    for (const char *part : parts) {
        if (!name.empty())
            name += '_';
        if (!part || !*part) {
            name += part ? "empty" : "none";
            continue;
        }
        for (const char *p = part; *p; ++p) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
                name += char(c);
            } else if (c < 0x20 || c >= 0x7F) {
                char code[4];
                std::snprintf(code, sizeof code, "x%02X", c);
                name += code;
            } else {
                name += '_';
            }
        }
    }
    return name;
}
