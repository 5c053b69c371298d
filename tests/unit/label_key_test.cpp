#include <gtest/gtest.h>

#include "export/object_listing.h"

namespace {

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST(LabelKey, EndsAtTheFirstZeroByteAndKeepsAtMost255Bytes) {
    EXPECT_EQ(labelKey(bytes("")), "");
    EXPECT_EQ(labelKey(bytes("Signing")), "Signing");
    EXPECT_EQ(labelKey(bytes(std::string("Signx\0tail", 10))), "Signx");
    EXPECT_EQ(labelKey(bytes(std::string(255, 'a'))), std::string(255, 'a'));
    EXPECT_EQ(labelKey(bytes(std::string(256, 'a'))), std::string(255, 'a'));
    EXPECT_EQ(labelKey(bytes(std::string(300, 'a') + "b")), std::string(255, 'a'));
    EXPECT_EQ(labelKey(bytes("\xff\x80")), "\xff\x80");
}

}  // namespace
