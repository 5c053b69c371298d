#include "platform/texts.h"

namespace texts {
namespace {

const char* moduleKind(platform::ModuleKind kind) {
    switch (kind) {
        case platform::ModuleKind::X86:
            return "32 ビット（x86）用のモジュールです";
        case platform::ModuleKind::X64:
            return "x64 用のモジュールですが、Windows が読み込めません"
                   "（壊れている可能性があります）";
        case platform::ModuleKind::Arm64:
            return "ARM64 用のモジュールです";
        case platform::ModuleKind::Arm64EC:
            return "ARM64EC 用のモジュールです";
        case platform::ModuleKind::Arm64X:
            return "ARM64X（ARM64 と ARM64EC の両用）のモジュールです";
        case platform::ModuleKind::Other:
            return "x64 以外のプロセッサー用のモジュールです";
        case platform::ModuleKind::NotWindowsDll:
            break;
    }
    return "Windows の DLL ではありません";
}

}  // namespace

const ConsoleTexts& console() {
    static const ConsoleTexts kJapanese = {
        "使用法: %s 署名用Pin 出力ファイル名\n\n",
        " 例： %s 97531 .\\mysign.crt\n",
        "出力ファイル = %s\n\n",
        "よろしいですか？(y/N):",
        "\n処理中...\n",
        "署名用PIN（入力しても表示されません）:",
        "署名用PINは以前に間違って入力されたことがあり、残りの入力回数が減っています。\n",
        "署名用PINの残りの入力回数はあと1回です。"
        "間違えるとロックされ、カードの発行元で解除するまで使えなくなります。\n",
        "署名用PINはロックされているため、ログインしません。"
        "ロックの解除はカードの発行元で行ってください。\n",
        "署名用PINの残りの入力回数はあと1回です。次に間違えるとロックされます。\n",
        "署名用PINはロックされています。ロックの解除はカードの発行元で行ってください。\n",
        "カードはありますが、読み取れません。署名用PINがロックされていることが原因の1つです。\n",
    };
    return kJapanese;
}

std::string refusedModule(platform::ModuleKind kind) {
    return std::string("opensc-pkcs11.dll は ") + moduleKind(kind) +
           "。certexport には OpenSC の x64 版のモジュールが必要です。\n";
}

const CertificateTexts& certificate() {
    static const CertificateTexts kJapanese = {
        "所有者       = %s\n",
        "発行者       = %s\n",
        "有効期間     = %sから%sまで\n",
        "有効期限の%sが近づいています。市区町村の窓口で証明書を更新してください。\n",
        "この証明書は有効期限の%sを過ぎています。市区町村の窓口で証明書を更新してください。\n",
        "この証明書の有効期間は%sからで、まだ始まっていません。"
        "パソコンの日付と時刻を確かめてください。\n",
        "このファイルには所有者の氏名、住所、生年月日などの個人情報が含まれています。"
        "必要な相手にだけ渡してください。\n",
    };
    return kJapanese;
}

}  // namespace texts
