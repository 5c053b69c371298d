#include "platform/windows/encoding.h"

#include <algorithm>

#include "platform/pin_text.h"
#include "platform/platform.h"

namespace platform {

std::wstring widened(UINT codePage, const std::string& bytes, DWORD flags) {
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
    std::wstring text(length, L'\0');
    MultiByteToWideChar(codePage, flags, bytes.data(), size, &text[0], length);
    return text;
}

std::string narrowed(UINT codePage, const std::wstring& text, DWORD flags) {
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(length, '\0');
    WideCharToMultiByte(codePage, flags, text.data(), size, &bytes[0], length, nullptr, nullptr);
    return bytes;
}

std::string inShiftJis(const std::string& text) {
    return narrowed(kShiftJis, widened(CP_UTF8, text));
}

UINT codePageOf(const std::string& bytes) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                               static_cast<int>(bytes.size()), nullptr, 0) > 0
               ? CP_UTF8
               : CP_ACP;
}

std::string pinInAnsiCodePage(std::wstring& text) {
    foldFullWidthForms(text);
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string pin;
    pin.reserve(std::max<std::size_t>(length, sizeof(std::string)));
    pin.resize(length);
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, &pin[0], length, nullptr, nullptr);
    eraseSecret(&text[0], text.size() * sizeof(wchar_t));
    return pin;
}

}  // namespace platform
