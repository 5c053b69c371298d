// Whether a Windows run with the wrong number of arguments explains itself and waits for a key, so
// that a double-click leaves the usage on screen. A plain template, so the rule is tested natively.
#pragma once

namespace platform {

// Only a run that Explorer started (a double-click, a file dropped on the tool), told by its parent
// process: a console of its own is no sign, as a program or a scheduled task may give it one. The
// output must be that console, so a redirected run never waits. The start times are in any one
// unit, 0 when unknown: a parent that started after this process holds the id of one that ended.
template <typename Char>
bool explainsDoubleClick(const Char* parentImage, unsigned long long parentStarted,
                         unsigned long long started, bool outputIsConsole) {
    if (!outputIsConsole || parentStarted == 0 || parentStarted > started) {
        return false;
    }
    // The executable's file name, its case ignored as Windows ignores it.
    for (const char* explorer = "explorer.exe";; ++explorer, ++parentImage) {
        const Char c = *parentImage;
        if ((c >= Char('A') && c <= Char('Z') ? Char(c - 'A' + 'a') : c) != Char(*explorer)) {
            return false;
        }
        if (!*explorer) {
            return true;
        }
    }
}

}  // namespace platform
