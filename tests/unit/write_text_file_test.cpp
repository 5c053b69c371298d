// A close that fails after a good flush, as network and FUSE filesystems report errors there: the
// file does not count as written. The test build links fclose through the wrapper below.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/platform.h"

namespace {
bool closeFails = false;
}

extern "C" int __real_fclose(std::FILE* file);

extern "C" int __wrap_fclose(std::FILE* file) {
    const int result = __real_fclose(file);
    return closeFails ? EOF : result;
}

namespace {

TEST(WriteTextFile, AFailedCloseIsAFailedWrite) {
    const std::string path = testing::TempDir() + "close-fails.pem";
    EXPECT_EQ(platform::writeTextFile(path, "text\n"), platform::WriteResult::Written);
    closeFails = true;
    EXPECT_EQ(platform::writeTextFile(path, "text\n"), platform::WriteResult::WriteFailed);
    closeFails = false;
    std::remove(path.c_str());
}

}  // namespace
