// Finds one argument in a Windows command line as the C runtime (msvcrt) splits it, so that its
// characters can be masked where they stand. Plain templates, so the rules are tested natively.
#pragma once

#include <algorithm>

namespace platform {

template <typename Char>
bool isArgumentBlank(Char c) {
    return c == Char(' ') || c == Char('\t');
}

// The program name has no escapes: it ends at the closing quote when quoted, else at a blank.
template <typename Char>
Char* skipProgramName(Char* p) {
    if (*p == Char('"')) {
        do {
            ++p;
        } while (*p && *p != Char('"'));
        return *p ? p + 1 : p;
    }
    while (*p && !isArgumentBlank(*p)) {
        ++p;
    }
    return p;
}

// An argument ends at the first blank outside quotes. A quote after an odd number of backslashes
// is plain text; any other opens or closes a quoted part, and two quotes inside one stand for a
// quote and close it, as msvcrt has it.
template <typename Char>
Char* skipArgument(Char* p) {
    bool quoted = false;
    while (*p && (quoted || !isArgumentBlank(*p))) {
        if (*p == Char('\\')) {
            const Char* backslashes = p;
            while (*p == Char('\\')) {
                ++p;
            }
            if (*p == Char('"') && (p - backslashes) % 2 == 1) {
                ++p;
            }
            continue;
        }
        if (*p == Char('"')) {
            if (quoted && p[1] == Char('"')) {
                ++p;
            }
            quoted = !quoted;
        }
        ++p;
    }
    return p;
}

// Overwrites argument `index` (1 is the first after the program name), quotes and escapes
// included, with `mask`. The mask is neither a blank nor a quote, so masking the same line again
// finds the same argument and changes nothing. False when the line has no such argument.
template <typename Char>
bool maskArgumentInCommandLine(Char* line, int index, Char mask) {
    Char* p = skipProgramName(line);
    for (int n = 1;; ++n) {
        while (isArgumentBlank(*p)) {
            ++p;
        }
        if (!*p) {
            return false;
        }
        Char* end = skipArgument(p);
        if (n == index) {
            std::fill(p, end, mask);
            return true;
        }
        p = end;
    }
}

}  // namespace platform
