#include "platform/texts.h"

namespace texts {

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

}  // namespace texts
