// Reads the PIN back through replaced global allocation functions while the tool's own entry runs:
// no block the tool frees, and no block it still holds when a missing module ends the process, may
// keep any of its bytes, nor may the stack at that end.
#include <dlfcn.h>
#include <execinfo.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>

// The tool's main, compiled into this test under another name.
int certexportEntry(int argc, char* argv[]);

namespace {

namespace fs = std::filesystem;

// Short enough for a string's inline buffer, where a copy of it never reaches the heap.
const char kPin[] = "75319846";
const std::size_t kPinLength = sizeof kPin - 1;
// The same PIN as an input method types it in full width, and what its folding into ASCII leaves
// behind it in the buffer unless that is erased: its last three characters.
const char kFullWidthPin[] = "７５３１９８４６";
const char kFullWidthEnd[] = "８４６";

bool watching = false;
bool pinFreed = false;
void* held[512];  // blocks allocated while watching and not yet freed
std::size_t heldCount = 0;

// The whole PIN, or what an erasure that missed bytes leaves of it: a block that is zero but for
// some of the PIN's bytes, each at its place (blocks start zeroed, see operator new).
bool holdsPin(void* block) {
    if (!block) {
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(block);
    const std::size_t size = malloc_usable_size(block);
    if (memmem(bytes, size, kPin, kPinLength) ||
        memmem(bytes, size, kFullWidthEnd, sizeof kFullWidthEnd - 1)) {
        return true;
    }
    const std::size_t first =
        std::find_if(bytes, bytes + size, [](unsigned char c) { return c != 0; }) - bytes;
    for (std::size_t place = 0; first < size && place <= first && place < kPinLength; ++place) {
        bool fits = true;
        for (std::size_t i = first, k = place; i < size && fits; ++i, ++k) {
            fits = bytes[i] == 0 || (k < kPinLength && bytes[i] == (unsigned char)kPin[k]);
        }
        if (fits) {
            return true;
        }
    }
    return false;
}

// Whether the live stack, from this frame to its top, holds the PIN but for its first byte: what a
// short string keeps after it was moved on. Not instrumented: it reads other frames' padding.
__attribute__((noinline, no_sanitize("address"))) bool stackHoldsPin() {
    pthread_attr_t attributes;
    void* base = nullptr;
    std::size_t size = 0;
    pthread_getattr_np(pthread_self(), &attributes);
    pthread_attr_getstack(&attributes, &base, &size);
    pthread_attr_destroy(&attributes);
    volatile char here = 0;
    const volatile char* top = static_cast<const char*>(base) + size - (kPinLength - 1);
    for (const volatile char* p = &here; p < top; ++p) {
        std::size_t k = 1;
        while (k < kPinLength && p[k - 1] == kPin[k]) {
            ++k;
        }
        if (k == kPinLength) {
            return true;
        }
    }
    return false;
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

// New blocks start zeroed, so that PIN bytes found in one were written during its own life.
void* allocate(std::size_t size) noexcept {
    void* block = malloc(size ? size : 1);
    // The slack past the size asked for is zeroed and read too: glibc lets a program use it only
    // once realloc has made it part of the block.
    block = block ? realloc(block, malloc_usable_size(block)) : nullptr;
    if (!block) {
        return nullptr;
    }
    memset(block, 0, malloc_usable_size(block));
    if (watching && heldCount < sizeof held / sizeof held[0]) {
        held[heldCount++] = block;
    }
    return block;
}

}  // namespace

// Every unaligned form is replaced, so that whichever form a library allocates with, and whichever
// it frees with, the block comes from malloc and goes back to free: a sanitizer's runtime provides
// the forms left out, and frees only what it allocated.
void* operator new(std::size_t size) {
    void* block = allocate(size);
    if (!block) {
        throw std::bad_alloc();
    }
    return block;
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}

void operator delete(void* block) noexcept {
    release(block);
}

void operator delete[](void* block) noexcept {
    release(block);
}

void operator delete(void* block, std::size_t) noexcept {
    release(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    release(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    release(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
    release(block);
}

namespace {

// Runs the tool as `certexport <PIN argument> <output>` with the input on standard input.
int runEntry(std::string pinArgument, const char* input, std::string output) {
    int keys[2];
    if (pipe(keys) != 0 || write(keys[1], input, strlen(input)) < 0 || dup2(keys[0], 0) < 0) {
        return 99;
    }
    close(keys[0]);
    close(keys[1]);
    char program[] = "certexport";
    char* argv[] = {program, &pinArgument[0], &output[0], nullptr};
    watching = true;
    const int status = certexportEntry(3, argv);
    watching = false;
    return status;
}

TEST(PinErasure, NoMemoryOfTheToolKeepsThePin) {
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
                if (std::any_of(held, held + heldCount, holdsPin) || stackHoldsPin()) {
                    _exit(3);
                }
            });
            runEntry(kPin, "y", output);
        },
        testing::ExitedWithCode(255), "");

    EXPECT_EQ(runEntry(kPin, "n", output), -1);
    EXPECT_FALSE(pinFreed) << "declined";
    EXPECT_EQ(runEntry("-", "75319846\nn", output), -1);
    EXPECT_FALSE(pinFreed) << "typed at the prompt, declined";

    // A run that logs in and exports a certificate.
    const fs::path scenario = work / "scenario.txt";
    std::ofstream(scenario) << "slot 1\nslot 2\npin \"" << kPin << "\"\n"
                            << "object slot=2 label=\"Signing\" value=@" CERTEXPORT_SOURCE_DIR
                               "/tests/data/cert-a.der\n";
    setenv("P11TEST_SCENARIO", scenario.c_str(), 1);
    fs::copy_file(CERTEXPORT_TEST_MODULE, module, fs::copy_options::overwrite_existing);
    EXPECT_EQ(runEntry(kPin, "y", output), 0);
    EXPECT_FALSE(pinFreed) << "confirmed";
    EXPECT_EQ(runEntry("-", "75319846\ny", output), 0);
    EXPECT_FALSE(pinFreed) << "typed at the prompt, confirmed";
    EXPECT_EQ(runEntry(kFullWidthPin, "y", output), 0);
    EXPECT_FALSE(pinFreed) << "typed in full width, confirmed";
    fs::remove(module);
    EXPECT_TRUE(fs::file_size(output) > 0);
    fs::remove_all(work);
}

}  // namespace
