// Which Windows console key events type a character. A plain function, so the rule is tested
// natively.
#pragma once

namespace platform {

constexpr unsigned short kAltKey = 0x12;  // VK_MENU

// How many times a key event types its character: a key pressed, as often as it repeats while held
// (a repeat count of 0 counts once); a character composed with Alt and the number pad arrives on
// Alt's release. 0 for an event that types nothing, as a release or a key without a character.
inline unsigned typedCount(bool keyDown, unsigned short virtualKey, char16_t character,
                           unsigned short repeat) {
    if (character == 0) {
        return 0;
    }
    if (keyDown) {
        return repeat == 0 ? 1 : repeat;
    }
    return virtualKey == kAltKey ? 1 : 0;
}

}  // namespace platform
