// The certificate as PEM text (CryptBinaryToStringA), and the output file, opened by its wide name.
#include <windows.h>
// Included after windows.h, which it needs.
#include <wincrypt.h>

#include <cstdio>

#include "platform/platform.h"

namespace platform {

std::optional<std::string> encodeCertificatePem(const std::vector<unsigned char>& der) {
    const DWORD flags = CRYPT_STRING_BASE64HEADER | CRYPT_STRING_NOCR;
    const DWORD derLength = static_cast<DWORD>(der.size());
    if (der.empty() || der.size() != derLength) {
        return std::nullopt;
    }
    DWORD size = 0;
    if (!CryptBinaryToStringA(der.data(), derLength, flags, nullptr, &size) || size == 0) {
        return std::nullopt;
    }
    std::string text(size, '\0');
    DWORD written = size;
    if (!CryptBinaryToStringA(der.data(), derLength, flags, &text[0], &written) ||
        written >= size) {
        return std::nullopt;
    }
    text.resize(written);
    return text;
}

WriteResult writeTextFile(const NativePath& path, const std::string& text) {
    std::FILE* file = nullptr;
    if (_wfopen_s(&file, path.c_str(), L"w+") != 0 || !file) {
        return WriteResult::OpenFailed;
    }
    // Text mode turns every line feed into carriage return and line feed.
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return written && flushed && closed ? WriteResult::Written : WriteResult::WriteFailed;
}

}  // namespace platform
