// Windows serial names: "COMk" (any case) stands for /dev/ttyS(k-1).
#pragma once

#include <cstddef>

namespace sncommon {

inline constexpr std::size_t kComNameSize = 16;  // room for the translated name

enum class ComTranslation {
    NotCom,      // not "COM" + number: use the name unchanged
    Translated,  // `out` holds the /dev/ttyS name
    Invalid,     // a COM number whose name cannot exist (k < 1, too long)
};

// The number is read as "%d" would read it (blanks and a sign accepted,
// trailing text ignored).  `out` is written only on Translated and is
// always terminated then.
ComTranslation translateComName(const char* name, char (&out)[kComNameSize]);

}  // namespace sncommon
