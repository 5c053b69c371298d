// Finding the token module beside the executable, loading it, and naming one the loader refuses.
#include <windows.h>
// Included after windows.h, which it needs.
#include <shlwapi.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/pe_machine.h"
#include "platform/platform.h"
#include "platform/texts.h"

namespace platform {
namespace {

// Far more than any PKCS#11 module: a larger file is read this far, which holds its headers.
constexpr std::size_t kMostBytesRead = 64 << 20;

// The file's bytes, as far as kMostBytesRead; none when it cannot be read.
std::vector<unsigned char> fileBytes(const NativePath& path) {
    std::vector<unsigned char> bytes;
    const std::unique_ptr<std::FILE, decltype(&std::fclose)> file(_wfopen(path.c_str(), L"rb"),
                                                                  &std::fclose);
    unsigned char buffer[1 << 14];
    for (std::size_t got; file && bytes.size() < kMostBytesRead &&
                          (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
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

void explainRefusedModule(const NativePath& path, unsigned long loadError) {
    if (loadError == ERROR_BAD_EXE_FORMAT) {
        print("%s", texts::refusedModule(moduleKind(fileBytes(path))).c_str());
    }
}

}  // namespace platform
