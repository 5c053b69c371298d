// Reads the PIN back through replaced global allocation functions: no block the tool frees, and no
// block it still holds when a missing module ends the process, may keep its bytes.
#include <dlfcn.h>
#include <execinfo.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>

#include "export/export_driver.h"

namespace {

namespace fs = std::filesystem;

// Longer than a short-string buffer, so that the PIN lives in a heap block.
const char kPin[] = "pin-erasure-0123456789-abcdefghijklmnop";

bool watching = false;
bool pinFreed = false;
void* held[512];  // blocks allocated while watching and not yet freed
std::size_t heldCount = 0;

bool holdsPin(void* block) {
    return block && memmem(block, malloc_usable_size(block), kPin, sizeof kPin - 1);
}

// A block freed with module code on the call stack is the module's own copy (its login check, its
// log), not the tool's.
bool moduleOnStack() {
    void* frames[64];
    const int depth = backtrace(frames, 64);
    Dl_info info;
    return std::any_of(frames, frames + depth, [&](void* frame) {
        return dladdr(frame, &info) && info.dli_fname && strstr(info.dli_fname, "opensc-pkcs11");
    });
}

// Both deletes end here, so that a block from malloc goes back to free and to nothing else.
void release(void* block) {
    if (watching && holdsPin(block) && !moduleOnStack()) {
        pinFreed = true;
    }
    std::replace(held, held + heldCount, block, static_cast<void*>(nullptr));
    free(block);
}

}  // namespace

// New blocks start zeroed, so that PIN bytes found in one were written during its own life.
void* operator new(std::size_t size) {
    void* block = malloc(size ? size : 1);
    // The slack past the size asked for is zeroed and read too: glibc lets a program use it only
    // once realloc has made it part of the block.
    block = block ? realloc(block, malloc_usable_size(block)) : nullptr;
    if (!block) {
        throw std::bad_alloc();
    }
    memset(block, 0, malloc_usable_size(block));
    if (watching && heldCount < sizeof held / sizeof held[0]) {
        held[heldCount++] = block;
    }
    return block;
}

void operator delete(void* block) noexcept {
    release(block);
}

void operator delete(void* block, std::size_t) noexcept {
    release(block);
}

namespace {

TEST(PinErasure, NoBlockOfTheToolKeepsThePin) {
    const fs::path module = fs::read_symlink("/proc/self/exe").parent_path() / "opensc-pkcs11.so";
    const fs::path work = fs::temp_directory_path() / ("pin-erasure-" + std::to_string(getpid()));
    fs::create_directories(work);
    const std::string output = (work / "out.pem").string();

    // A missing module ends the process inside the run. This goes first, so that the driver's
    // exit hook is registered after the check below and runs before it.
    fs::remove(module);
    EXPECT_EXIT(
        {
            std::atexit([] {
                if (std::any_of(held, held + heldCount, holdsPin)) {
                    _exit(3);
                }
            });
            watching = true;
            runExport(kPin, output);
        },
        testing::ExitedWithCode(255), "");

    // A run that logs in and exports a certificate.
    const fs::path scenario = work / "scenario.txt";
    std::ofstream(scenario) << "slot 1\nslot 2\npin \"" << kPin << "\"\n"
                            << "object slot=2 label=\"Signing\" value=@" CERTEXPORT_SOURCE_DIR
                               "/tests/data/cert-a.der\n";
    setenv("P11TEST_SCENARIO", scenario.c_str(), 1);
    fs::copy_file(CERTEXPORT_TEST_MODULE, module, fs::copy_options::overwrite_existing);
    watching = true;
    const bool ran = runExport(kPin, output);
    watching = false;
    fs::remove(module);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(fs::file_size(output) > 0);
    EXPECT_FALSE(pinFreed);
    fs::remove_all(work);
}

}  // namespace
