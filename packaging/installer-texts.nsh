; The installer's own messages in English and Japanese, included by NSIS.template.in as UTF-8.
; $INSTDIR and $Module are read when a message is shown.

LangString ModuleKept ${LANG_ENGLISH} "OpenSC was not found; the module already in $INSTDIR\${MODULE} is kept."
LangString ModuleKept ${LANG_JAPANESE} "OpenSC が見つかりません。$INSTDIR\${MODULE} にすでにあるモジュールをそのまま使います。"

LangString OpenSCMissing ${LANG_ENGLISH} "OpenSC (64-bit) was not found. certexport needs its PKCS#11 module.$\r$\n$\r$\nInstall OpenSC (64-bit) and run this installer again, or copy OpenSC's pkcs11\${MODULE} to:$\r$\n$INSTDIR\${MODULE}"
LangString OpenSCMissing ${LANG_JAPANESE} "OpenSC（64 ビット版）が見つかりません。certexport には OpenSC の PKCS#11 モジュールが必要です。$\r$\n$\r$\nOpenSC（64 ビット版）をインストールしてから、このインストーラーをもう一度実行してください。または、OpenSC の pkcs11\${MODULE} を次の場所にコピーしてください：$\r$\n$INSTDIR\${MODULE}"

LangString ModuleLinked ${LANG_ENGLISH} "$INSTDIR\${MODULE} links to OpenSC's module $Module."
LangString ModuleLinked ${LANG_JAPANESE} "$INSTDIR\${MODULE} は OpenSC のモジュール $Module へのリンクです。"

LangString ModuleNotCopied ${LANG_ENGLISH} "OpenSC's module $Module could not be copied to $INSTDIR\${MODULE}. Copy it there before using certexport."
LangString ModuleNotCopied ${LANG_JAPANESE} "OpenSC のモジュール $Module を $INSTDIR\${MODULE} にコピーできませんでした。certexport を使う前に、そこへコピーしてください。"

LangString ModuleCopied ${LANG_ENGLISH} "No link to OpenSC's module could be made here, so certexport uses a copy of it:$\r$\n$INSTDIR\${MODULE}$\r$\n(copied from $Module).$\r$\n$\r$\nAfter updating OpenSC, run this installer again to copy the new module."
LangString ModuleCopied ${LANG_JAPANESE} "この環境では OpenSC のモジュールへのリンクを作成できないため、certexport はそのコピーを使います：$\r$\n$INSTDIR\${MODULE}$\r$\n（コピー元：$Module）$\r$\n$\r$\nOpenSC を更新したら、このインストーラーをもう一度実行して、新しいモジュールをコピーしてください。"

LangString PathSection ${LANG_ENGLISH} "Add certexport to PATH"
LangString PathSection ${LANG_JAPANESE} "certexport を PATH に追加する"

LangString PathAdded ${LANG_ENGLISH} "$INSTDIR was added to the system PATH.$\r$\nIt takes effect in consoles opened from now on."
LangString PathAdded ${LANG_JAPANESE} "$INSTDIR をシステムの PATH に追加しました。$\r$\nこれから開くコンソールで有効になります。"

LangString PathHasEntry ${LANG_ENGLISH} "$INSTDIR is already in the system PATH."
LangString PathHasEntry ${LANG_JAPANESE} "$INSTDIR はすでにシステムの PATH に含まれています。"

LangString PathNotChanged ${LANG_ENGLISH} "The system PATH is too long to change safely (or could not be read), so it was left as it is. To run certexport from any folder, add $INSTDIR to PATH yourself."
LangString PathNotChanged ${LANG_JAPANESE} "システムの PATH が長すぎて安全に変更できない（または読み取れない）ため、変更していません。どのフォルダーからでも certexport を実行するには、$INSTDIR を手動で PATH に追加してください。"

LangString PathEntryRemoved ${LANG_ENGLISH} "$INSTDIR was taken out of the system PATH."
LangString PathEntryRemoved ${LANG_JAPANESE} "$INSTDIR をシステムの PATH から削除しました。"

LangString PathEntryLeft ${LANG_ENGLISH} "The system PATH is too long to change safely (or could not be read), so $INSTDIR was left in it. Take it out of PATH yourself."
LangString PathEntryLeft ${LANG_JAPANESE} "システムの PATH が長すぎて安全に変更できない（または読み取れない）ため、$INSTDIR を PATH に残しました。手動で PATH から削除してください。"

LangString ConsoleEntry ${LANG_ENGLISH} "certexport (Command Prompt)"
LangString ConsoleEntry ${LANG_JAPANESE} "certexport（コマンド プロンプト）"

LangString ConsoleEntryDescription ${LANG_ENGLISH} "A Command Prompt in your Documents folder, ready to export the signing certificate of your smart card with certexport"
LangString ConsoleEntryDescription ${LANG_JAPANESE} "ドキュメント フォルダーでコマンド プロンプトを開きます。certexport で IC カードの署名用証明書を書き出せます"

LangString OpenConsoleEntry ${LANG_ENGLISH} "Open $(ConsoleEntry)"
LangString OpenConsoleEntry ${LANG_JAPANESE} "$(ConsoleEntry)を開く"
