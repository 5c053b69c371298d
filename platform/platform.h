// The one place that knows Windows from POSIX. Everything above this layer is plain C++.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

#ifdef _WIN32
using NativePath = std::wstring;
// printf conversion for a NativePath's c_str().
#define CERTEXPORT_NATIVE_PATH_FORMAT "%S"
#else
using NativePath = std::string;
#define CERTEXPORT_NATIVE_PATH_FORMAT "%s"
#endif

// The token module file in the directory of the running executable (symbolic links resolved).
NativePath moduleBesideExecutable();

bool fileExists(const NativePath& path);

using LibraryHandle = void*;

// Null on failure; lastLoadError() then tells why, as a number.
LibraryHandle loadLibrary(const NativePath& path);
unsigned long lastLoadError();
void* findSymbol(LibraryHandle library, const char* name);
bool unloadLibrary(LibraryHandle library);

// Masks a command-line argument with '*' where other processes can read it (the process's own
// argument area on POSIX, the command-line buffers on Windows) and in the runtime's copies of it.
void maskCommandLineArgument(char* argv[], int index);

// One key press without echo and without Enter; -1 at end of input.
int readConfirmationKey();

// PEM text of a DER certificate, every line ended by a line feed alone.
std::optional<std::string> encodeCertificatePem(const std::vector<unsigned char>& der);

enum class WriteResult { Written, OpenFailed, WriteFailed };

// Recreates the file with the text, each line feed written as carriage return and line feed.
// Written only when every byte reached the file and the file was closed without error.
WriteResult writeTextFile(const std::string& path, const std::string& text);

// Overwrites memory in a way the compiler may not drop, for secrets about to be freed.
void eraseSecret(void* data, std::size_t size);

}  // namespace platform
