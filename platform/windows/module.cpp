// Finding the token module beside the executable and loading it.
#include <windows.h>
// Included after windows.h, which it needs.
#include <shlwapi.h>

#include "platform/platform.h"

namespace platform {

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

}  // namespace platform
