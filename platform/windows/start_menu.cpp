// certexport-console.exe, the Start-menu entry's program: a console ready for certexport.
#include <windows.h>
// Included after windows.h, which it needs.
#include <shlwapi.h>

#include <string>

#include "platform/platform.h"
#include "platform/windows/console.h"

namespace platform {
namespace {

// The guide, which ends with the folder the console opens in.
const wchar_t kJapaneseGuide[] =
    L"IC カードの署名用証明書を PEM ファイルに書き出します。\n"
    L"カードをリーダーに挿して、次のように入力してください（ファイル名は自由です）。\n"
    L"\n"
    L"  certexport - 署名用証明書.pem\n"
    L"\n"
    L"署名用 PIN を聞かれます。入力した PIN は画面に表示されません。\n"
    L"ファイルは次のフォルダーに書き込まれます:\n"
    L"  ";

const wchar_t kEnglishGuide[] =
    L"This exports the signing certificate on your smart card to a PEM file.\n"
    L"Insert the card into the reader and type, for example:\n"
    L"\n"
    L"  certexport - signing-certificate.pem\n"
    L"\n"
    L"certexport asks for the signing PIN, which is not shown as you type it.\n"
    L"The file is written to this folder:\n"
    L"  ";

// Documents as the current folder, where the user's shell folders say it is (OneDrive may have
// moved it); the profile folder when Documents cannot be entered. Values are expanded as read.
void enterDocumentsFolder() {
    wchar_t folder[MAX_PATH];
    DWORD size = sizeof folder;
    if (RegGetValueW(HKEY_CURRENT_USER,
                     L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                     L"Personal", RRF_RT_REG_SZ, nullptr, folder, &size) == ERROR_SUCCESS &&
        SetCurrentDirectoryW(folder)) {
        return;
    }
    const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        SetCurrentDirectoryW(folder);
    }
}

std::wstring currentFolder() {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    return length > 0 && length < MAX_PATH ? folder : L"";
}

// The tool's folder, this program's, at the end of PATH: the console runs certexport also where
// the installer left the system PATH alone, or before the desktop has taken up the new one.
void addOwnFolderToPath() {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !PathRemoveFileSpecW(folder)) {
        return;
    }
    std::wstring path(GetEnvironmentVariableW(L"PATH", nullptr, 0), L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", &path[0], static_cast<DWORD>(path.size())));
    SetEnvironmentVariableW(L"PATH", (path + L";" + folder).c_str());
}

// cmd.exe, which keeps the lines typed (a PIN among them) in memory alone, in this console, handed
// the console's title, as cmd titles the window itself when it starts; waits for it and gives its
// exit code.
int runCommandPrompt() {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    const std::wstring program = std::wstring(system) + L"\\cmd.exe";
    std::wstring line = L"\"" + program + L"\" /k";
    wchar_t title[MAX_PATH] = {};
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpTitle = GetConsoleTitleW(title, MAX_PATH) ? title : nullptr;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int openConsoleInDocuments() {
    enterDocumentsFolder();
    addOwnFolderToPath();
    writeConsole((displayLanguageIsJapanese() ? kJapaneseGuide : kEnglishGuide) + currentFolder() +
                 L"\n");
    return runCommandPrompt();
}

}  // namespace platform
