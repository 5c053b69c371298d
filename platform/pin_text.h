// The text of a PIN as the user typed it. A Japanese input method left on types letters, digits and
// signs as their full-width forms (U+FF01 to U+FF5E). No card takes those in a PIN, so a PIN typed
// that way would only cost a try: they are turned into the ASCII characters they stand for.
// Plain functions, tested natively.
#pragma once

#include <algorithm>
#include <string>

namespace platform {

constexpr char32_t kFirstFullWidthForm = 0xFF01;
constexpr char32_t kLastFullWidthForm = 0xFF5E;
constexpr char32_t kFullWidthOffset = 0xFEE0;  // U+FF01 - '!'

constexpr bool isFullWidthForm(char32_t c) {
    return c >= kFirstFullWidthForm && c <= kLastFullWidthForm;
}

// One character as ASCII where it is a full-width form: a full-width `ｙ` answers yes.
constexpr char32_t foldedFullWidthForm(char32_t c) {
    return isFullWidthForm(c) ? c - kFullWidthOffset : c;
}

inline bool isUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Wide text (UTF-16 on Windows), in place.
template <typename Char>
void foldFullWidthForms(std::basic_string<Char>& text) {
    for (Char& c : text) {
        if (isFullWidthForm(static_cast<char32_t>(c))) {
            c = static_cast<Char>(c - kFullWidthOffset);
        }
    }
}

// UTF-8 text, in place: each form's three bytes become one. The bytes left behind the shortened
// text are zeroed, since the text may be a secret whose buffer is erased only up to its size.
inline void foldFullWidthFormsUtf8(std::string& text) {
    std::size_t kept = 0;
    for (std::size_t next = 0; next < text.size();) {
        if (static_cast<unsigned char>(text[next]) == 0xEF && next + 2 < text.size() &&
            isUtf8Continuation(text[next + 1]) && isUtf8Continuation(text[next + 2])) {
            const char32_t c =
                0xF000 | (char32_t(text[next + 1] & 0x3F) << 6) | char32_t(text[next + 2] & 0x3F);
            if (isFullWidthForm(c)) {
                text[kept++] = static_cast<char>(c - kFullWidthOffset);
                next += 3;
                continue;
            }
        }
        text[kept++] = text[next++];
    }
    std::fill(text.begin() + kept, text.end(), '\0');
    text.resize(kept);
}

// The characters of UTF-8 text up to its first zero byte, where a PIN ends.
inline std::size_t utf8CharacterCount(const std::string& text) {
    const std::string::const_iterator end = std::find(text.begin(), text.end(), '\0');
    return std::count_if(text.begin(), end, [](char c) { return !isUtf8Continuation(c); });
}

}  // namespace platform
