#include <gtest/gtest.h>

#include "platform/double_click.h"

namespace {

using platform::explainsDoubleClick;

TEST(DoubleClick, OnlyExplorerWithItsConsoleMakesTheRunWait) {
    EXPECT_TRUE(explainsDoubleClick("explorer.exe", 100, 200, true));
    EXPECT_TRUE(explainsDoubleClick(L"Explorer.EXE", 200, 200, true));
    // A console, a script host, a scheduled task's host, look-alike names.
    for (const char* other : {"cmd.exe", "powershell.exe", "taskhostw.exe", "explorer",
                              "explorer.exe.exe", "iexplorer.exe", ""}) {
        EXPECT_FALSE(explainsDoubleClick(other, 100, 200, true)) << other;
    }
    EXPECT_FALSE(explainsDoubleClick("explorer.exe", 100, 200, false)) << "redirected output";
}

TEST(DoubleClick, AParentThatStartedLaterOrIsUnknownIsNotExplorer) {
    EXPECT_FALSE(explainsDoubleClick("explorer.exe", 300, 200, true));
    EXPECT_FALSE(explainsDoubleClick("explorer.exe", 0, 200, true));
}

}  // namespace
