#pragma once

#include <cctype>
#include <cstdio>
#include <initializer_list>
#include <string>

// A parameterised case's gtest name from its content, so that a failing case
// can be run again by name: letters and digits stay, other printable
// characters become "_", other bytes their hex code ("x0D"); the parts are
// joined by "_", a null one reads "none", an empty one "empty".
inline std::string caseName(std::initializer_list<const char *> parts)
{
    std::string name;
    for (const char *part : parts) {
        name += name.empty() ? "" : "_";
        if (!part || !*part)
            name += part ? "empty" : "none";
        for (const char *p = part; p && *p; ++p) {
            const unsigned char c = static_cast<unsigned char>(*p);
            char code[4] = {'_', 0};
            if (c < 0x20 || c >= 0x7F)
                std::snprintf(code, sizeof code, "x%02X", c);
            else if (std::isalnum(c))
                code[0] = char(c);
            name += code;
        }
    }
    return name;
}
