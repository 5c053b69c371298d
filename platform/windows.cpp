#include <windows.h>
// Included after windows.h, which they need.
#include <conio.h>
#include <corecrt_startup.h>
#include <shlwapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/command_line.h"
#include "platform/platform.h"

namespace platform {
namespace {

// Masks entry `index` of a null-terminated argument list, if it has one.
template <typename Char, typename Length>
void maskListedArgument(Char** list, int index, Length length) {
    if (!list) {
        return;
    }
    for (int i = 0; i <= index; ++i) {
        if (!list[i]) {
            return;
        }
    }
    std::fill(list[index], list[index] + length(list[index]), Char('*'));
}

}  // namespace

NativePath moduleBesideExecutable() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A cut-off name, or a directory with no room for the file name, gives an empty path (reported
    // as not found) rather than the directory or a truncated one.
    if (length == 0 || length >= MAX_PATH || !PathRemoveFileSpecW(path) ||
        !PathAppendW(path, L".\\opensc-pkcs11.dll")) {
        return NativePath();
    }
    return path;
}

bool fileExists(const NativePath& path) {
    return PathFileExistsW(path.c_str()) != FALSE;
}

LibraryHandle loadLibrary(const NativePath& path) {
    return reinterpret_cast<LibraryHandle>(LoadLibraryW(path.c_str()));
}

unsigned long lastLoadError() {
    return GetLastError();
}

void* findSymbol(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool unloadLibrary(LibraryHandle library) {
    return FreeLibrary(static_cast<HMODULE>(library)) != FALSE;
}

void maskCommandLineArgument(char* argv[], int index) {
    // Other processes read the line that GetCommandLineW returns, from the process parameters.
    // The runtime keeps copies of the line and of the split arguments; each gets the same mask.
    for (wchar_t* line : {GetCommandLineW(), _wcmdln}) {
        if (line) {
            maskArgumentInCommandLine(line, index, L'*');
        }
    }
    for (char* line : {GetCommandLineA(), _acmdln}) {
        if (line) {
            maskArgumentInCommandLine(line, index, '*');
        }
    }
    for (char** list : {argv, __argv}) {
        maskListedArgument(list, index, std::strlen);
    }
    maskListedArgument(__wargv, index, std::wcslen);
}

int readConfirmationKey() {
    std::fflush(stdout);
    return _getch();
}

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

WriteResult writeTextFile(const std::string& path, const std::string& text) {
    std::FILE* file = nullptr;
    if (fopen_s(&file, path.c_str(), "w+") != 0 || !file) {
        return WriteResult::OpenFailed;
    }
    // Text mode turns every line feed into carriage return and line feed.
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return written && flushed && closed ? WriteResult::Written : WriteResult::WriteFailed;
}

void eraseSecret(void* data, std::size_t size) {
    SecureZeroMemory(data, size);
}

}  // namespace platform
