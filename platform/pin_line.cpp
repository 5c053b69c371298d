#include "platform/pin_line.h"

#include <algorithm>

#include "platform/pin_text.h"
#include "platform/platform.h"

namespace platform {
namespace {

constexpr unsigned char kCtrlC = 0x03, kCtrlD = 0x04, kBackspace = 0x08, kCtrlZ = 0x1A,
                        kEscape = 0x1B, kDelete = 0x7F;

bool isPrintableAscii(unsigned char byte) {
    return byte >= 0x20 && byte < kDelete;
}

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit < 0xDC00;
}

bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit < 0xE000;
}

// The UTF-8 bytes of a code point; gives their number.
std::size_t encodeUtf8(char32_t c, unsigned char bytes[4]) {
    if (c < 0x80) {
        bytes[0] = static_cast<unsigned char>(c);
        return 1;
    }
    const std::size_t count = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    for (std::size_t i = count - 1; i > 0; --i, c >>= 6) {
        bytes[i] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
    bytes[0] = static_cast<unsigned char>((0xF00 >> count) | c);
    return count;
}

}  // namespace

PinLineEditor::PinLineEditor(std::string& pin) : pin_(pin) {
    pin_.clear();
    pin_.reserve(kMaxPinBytes);
}

PinEntry PinLineEditor::key(unsigned char byte) {
    if (state_ != PinEntry::Open || skippedInSequence(byte)) {
        return state_;
    }
    switch (byte) {
        case '\r':
        case '\n':
            return enter();
        case kCtrlC:
        case kCtrlD:
        case kCtrlZ:
            return refuse();
        case kBackspace:
        case kDelete:
            takeBack();
            break;
        case kEscape:
            escape_ = Escape::Started;
            break;
        default:
            if (byte >= 0x20) {
                add(byte);
            }
    }
    return state_;
}

PinEntry PinLineEditor::utf16(char16_t unit) {
    if (isHighSurrogate(unit)) {
        highSurrogate_ = unit;
        return state_;
    }
    char32_t c = unit;
    if (isLowSurrogate(unit)) {
        if (!highSurrogate_) {
            return state_;
        }
        c = 0x10000 + ((char32_t(highSurrogate_) - 0xD800) << 10) + (unit - 0xDC00);
    }
    highSurrogate_ = 0;
    unsigned char bytes[4];
    const std::size_t count = encodeUtf8(c, bytes);
    for (std::size_t i = 0; i < count; ++i) {
        key(bytes[i]);
    }
    eraseSecret(bytes, sizeof bytes);
    return state_;
}

// An arrow or function key sends Escape and a sequence at once: ESC [ parameters and a final byte,
// or ESC O and a key; Alt with a key sends Escape and that key. None of it is typed text. A control
// key breaks off a sequence and counts as itself.
bool PinLineEditor::skippedInSequence(unsigned char byte) {
    if (escape_ == Escape::None) {
        return false;
    }
    if (!isPrintableAscii(byte)) {
        escape_ = byte == kEscape ? Escape::Started : Escape::None;
        return byte == kEscape;
    }
    switch (escape_) {
        case Escape::Started:
            escape_ = byte == '['   ? Escape::ControlSequence
                      : byte == 'O' ? Escape::SingleShift
                                    : Escape::None;
            break;
        case Escape::ControlSequence:
            if (byte >= 0x40) {
                escape_ = Escape::None;
            }
            break;
        case Escape::SingleShift:
        case Escape::None:
            escape_ = Escape::None;
    }
    return true;
}

void PinLineEditor::add(unsigned char byte) {
    if (pin_.size() >= kMaxPinBytes) {
        overflowed_ = true;
        return;
    }
    pin_ += static_cast<char>(byte);
}

// The last character, a UTF-8 lead byte and its continuation bytes.
void PinLineEditor::takeBack() {
    while (!pin_.empty()) {
        const bool lead = !isUtf8Continuation(pin_.back());
        pin_.back() = '\0';
        pin_.pop_back();
        if (lead) {
            return;
        }
    }
}

PinEntry PinLineEditor::enter() {
    if (overflowed_) {
        return refuse();
    }
    foldFullWidthFormsUtf8(pin_);
    return state_ = PinEntry::Entered;
}

PinEntry PinLineEditor::refuse() {
    eraseSecret(&pin_[0], pin_.size());
    pin_.clear();
    return state_ = PinEntry::Refused;
}

bool trimPipedLine(std::string& line) {
    static const char kByteOrderMark[] = "\xEF\xBB\xBF";
    const std::size_t start = line.compare(0, 3, kByteOrderMark) == 0 ? 3 : 0;
    std::size_t end = line.size();
    while (end > start &&
           (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r')) {
        --end;
    }
    std::copy(line.begin() + start, line.begin() + end, line.begin());
    std::fill(line.begin() + (end - start), line.end(), '\0');
    line.resize(end - start);
    return line.size() <= kMaxPinBytes && std::none_of(line.begin(), line.end(), [](char c) {
               return static_cast<unsigned char>(c) < 0x20 || c == static_cast<char>(kDelete);
           });
}

void eraseSecret(void* data, std::size_t size) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

}  // namespace platform
