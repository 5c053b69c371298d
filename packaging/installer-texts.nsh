; The installer's own messages in English and Japanese, included by NSIS.template.in as UTF-8.
; $INSTDIR, $Module, $Found and $FoundKind are read when a message is shown.

LangString ModuleKept ${LANG_ENGLISH} "OpenSC's x64 module was not found; the x64 module already in $INSTDIR\${MODULE} is kept."
LangString ModuleKept ${LANG_JAPANESE} "OpenSC の x64 版のモジュールが見つかりません。$INSTDIR\${MODULE} にすでにある x64 版のモジュールをそのまま使います。"

; Which OpenSC package to install, also on a Windows on ARM PC.
LangString InstallX64 ${LANG_ENGLISH} "Install OpenSC's x64 package (OpenSC-<version>_win64.msi), which runs on ARM64 Windows 11 too, under emulation, then run this installer again. With winget:$\r$\nwinget install --id OpenSC.OpenSC.Light --architecture x64"
LangString InstallX64 ${LANG_JAPANESE} "OpenSC の x64 版のパッケージ（OpenSC-<バージョン>_win64.msi）をインストールしてから、このインストーラーをもう一度実行してください。x64 版は ARM64 の Windows 11 でもエミュレーションで動きます。winget では次のコマンドでインストールできます：$\r$\nwinget install --id OpenSC.OpenSC.Light --architecture x64"

LangString OpenSCMissing ${LANG_ENGLISH} "OpenSC (x64) was not found. certexport needs its PKCS#11 module.$\r$\n$\r$\n$(InstallX64)$\r$\n$\r$\nOr copy the pkcs11\${MODULE} of OpenSC's x64 package to:$\r$\n$INSTDIR\${MODULE}"
LangString OpenSCMissing ${LANG_JAPANESE} "OpenSC（x64 版）が見つかりません。certexport には OpenSC の PKCS#11 モジュールが必要です。$\r$\n$\r$\n$(InstallX64)$\r$\n$\r$\nまたは、OpenSC の x64 版の pkcs11\${MODULE} を次の場所にコピーしてください：$\r$\n$INSTDIR\${MODULE}"

LangString ModuleNotX64 ${LANG_ENGLISH} "certexport cannot use the OpenSC module found here:$\r$\n$Found$\r$\nis $FoundKind. certexport is an x64 program and can load only OpenSC's x64 module, so none was placed beside it.$\r$\n$\r$\nUninstall this OpenSC first (Settings > Apps). $(InstallX64)"
LangString ModuleNotX64 ${LANG_JAPANESE} "見つかった OpenSC のモジュールは certexport では使えません：$\r$\n$Found$\r$\nは $FoundKindです。certexport は x64 のプログラムなので、OpenSC の x64 版のモジュールしか読み込めません。そのため、モジュールを置きませんでした。$\r$\n$\r$\nまず、この OpenSC をアンインストールしてください（「設定」の「アプリ」）。$(InstallX64)"

LangString Arm64Module ${LANG_ENGLISH} "an ARM64 module"
LangString Arm64Module ${LANG_JAPANESE} "ARM64 用のモジュール"
LangString X86Module ${LANG_ENGLISH} "a 32-bit (x86) module"
LangString X86Module ${LANG_JAPANESE} "32 ビット（x86）用のモジュール"
LangString OtherModule ${LANG_ENGLISH} "not an x64 module"
LangString OtherModule ${LANG_JAPANESE} "x64 用ではないファイル"

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
