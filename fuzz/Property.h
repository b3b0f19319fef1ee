#pragma once

#include <cstdio>
#include <cstdlib>

// A property every input must keep, for the targets without Qt: breaking it is a finding, reported to
// libFuzzer as a crash that names the property.
inline void checkProperty(bool condition, const char* property)
{
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", property);
        std::abort();
    }
}
