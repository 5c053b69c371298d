// Finding the token module beside the executable and loading it (dlopen).
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>

#include "platform/platform.h"

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace platform {
namespace {

const char kModuleFileName[] = "opensc-pkcs11.so";

int loadError = 0;

std::string executablePath() {
#ifdef __APPLE__
    char raw[PATH_MAX];
    uint32_t size = sizeof raw;
    if (_NSGetExecutablePath(raw, &size) != 0) {
        return std::string();
    }
    const char* link = raw;
#else
    const char* link = "/proc/self/exe";
#endif
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(link, nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace

NativePath moduleBesideExecutable() {
    const std::string executable = executablePath();
    const std::string::size_type slash = executable.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : executable.substr(0, slash);
    return directory + "/" + kModuleFileName;
}

bool fileExists(const NativePath& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

LibraryHandle loadLibrary(const NativePath& path) {
    errno = 0;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    loadError = library ? 0 : errno;
    if (!library) {
        // The loader's reason rarely fits in a number; standard output keeps its fixed line.
        std::fprintf(stderr, "%s\n", dlerror());
    }
    return library;
}

unsigned long lastLoadError() {
    return static_cast<unsigned long>(loadError);
}

void* findSymbol(LibraryHandle library, const char* name) {
    return dlsym(library, name);
}

bool unloadLibrary(LibraryHandle library) {
    return dlclose(library) == 0;
}

void explainRefusedModule(const NativePath&, unsigned long) {}

}  // namespace platform
