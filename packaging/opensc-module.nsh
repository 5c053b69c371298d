; Finding OpenSC's x64 module and placing it beside the tool, included by NSIS.template.in. The
; PE machine field of each module found tells an x64 one from an ARM64 or 32-bit one, which an x64
; process cannot load.

; $1: the little-endian field of $3 bytes at offset $2 of the open file $0; the error flag is set
; when the file ends before it.
Function ReadField
  FileSeek $0 $2 SET
  StrCpy $1 0
  StrCpy $4 0
  ${DoWhile} $4 < $3
    FileReadByte $0 $5
    IntOp $6 $4 * 8
    IntOp $5 $5 << $6
    IntOp $1 $1 | $5
    IntOp $4 $4 + 1
  ${Loop}
FunctionEnd

; $R9: the machine field of the PE header of the file $R8 (0x8664 for x64), 0 when the file is no
; PE image: "MZ" first, and "PE\0\0" at the offset it gives.
Function ReadPeMachine
  StrCpy $R9 0
  ClearErrors
  FileOpen $0 $R8 r
  ${If} ${Errors}
    Return
  ${EndIf}
  StrCpy $2 0
  StrCpy $3 2
  Call ReadField
  ${If} $1 = 0x5A4D
    StrCpy $2 0x3C
    StrCpy $3 4
    Call ReadField
    StrCpy $2 $1
    Call ReadField
    ${If} $1 = 0x4550
      IntOp $2 $2 + 4
      StrCpy $3 2
      Call ReadField
      StrCpy $R9 $1
    ${EndIf}
  ${EndIf}
  FileClose $0
  ${If} ${Errors}
    StrCpy $R9 0
  ${EndIf}
FunctionEnd

; Looks at the module $R8, if it is there and no x64 one was found yet: an x64 module becomes
; $Module; the first other one is kept in $Found, with what it is.
Function ConsiderModule
  ${If} $Module != ""
  ${OrIfNot} ${FileExists} $R8
    Return
  ${EndIf}
  Call ReadPeMachine
  ${If} $R9 = 0x8664
    StrCpy $Module $R8
  ${ElseIf} $Found == ""
    StrCpy $Found $R8
    StrCpy $FoundKind "$(OtherModule)"
    ${If} $R9 = 0xAA64
      StrCpy $FoundKind "$(Arm64Module)"
    ${ElseIf} $R9 = 0x14C
      StrCpy $FoundKind "$(X86Module)"
    ${EndIf}
  ${EndIf}
FunctionEnd

; OpenSC's x64 module, where OpenSC's installers put it: under the folder recorded in the registry,
; under the default folder, or (older versions) in the 64-bit system folder, which a 64-bit
; installer sees as $SYSDIR. OpenSC's ARM64 package uses the same folders and registry key on an
; ARM64 PC; its module, or a 32-bit one, is passed over, as an x64 process cannot load it. $Module
; is empty when no x64 module is there.
Function FindOpenSCModule
  StrCpy $Module ""
  StrCpy $Found ""
  ReadRegStr $0 HKLM "Software\OpenSC Project\OpenSC" "ConfigFile"
  ${If} $0 != ""
    ${GetParent} $0 $0
    StrCpy $R8 "$0\pkcs11\${MODULE}"
    Call ConsiderModule
  ${EndIf}
  StrCpy $R8 "$PROGRAMFILES64\OpenSC Project\OpenSC\pkcs11\${MODULE}"
  Call ConsiderModule
  StrCpy $R8 "$SYSDIR\${MODULE}"
  Call ConsiderModule
FunctionEnd

; A link follows the module when OpenSC is updated; where no link can be made, a copy serves.
Function PlaceModule
  Call FindOpenSCModule
  ${If} $Module == ""
    ; An x64 module already beside the tool serves; any other is named in the message.
    StrCpy $R8 "$INSTDIR\${MODULE}"
    Call ConsiderModule
    ${If} $Module != ""
      DetailPrint "$(ModuleKept)"
    ${ElseIf} $Found != ""
      !insertmacro Tell MB_ICONEXCLAMATION "$(ModuleNotX64)"
    ${Else}
      !insertmacro Tell MB_ICONEXCLAMATION "$(OpenSCMissing)"
    ${EndIf}
    Return
  ${EndIf}
  ; Marks the module as this installer's, so that the uninstaller removes it and nothing else.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "OpenSCModule" $Module
  Delete "$INSTDIR\${MODULE}"
  ; Flag 2 (unprivileged create) links without elevation in developer mode on Windows 10 and
  ; later; older versions refuse the flag, so the link is tried again without it.
  System::Call 'kernel32::CreateSymbolicLinkW(w "$INSTDIR\${MODULE}", w "$Module", i 2) i .r0'
  IntOp $0 $0 & 0xFF
  ${If} $0 == 0
    System::Call 'kernel32::CreateSymbolicLinkW(w "$INSTDIR\${MODULE}", w "$Module", i 0) i .r0'
    IntOp $0 $0 & 0xFF
  ${EndIf}
  ; A link counts only when the module can be reached through it: some systems report success
  ; without making one.
  ${If} $0 != 0
  ${AndIf} ${FileExists} "$INSTDIR\${MODULE}"
    DetailPrint "$(ModuleLinked)"
    Return
  ${EndIf}
  Delete "$INSTDIR\${MODULE}"
  ClearErrors
  CopyFiles /SILENT $Module "$INSTDIR\${MODULE}"
  ${If} ${Errors}
    !insertmacro Tell MB_ICONEXCLAMATION "$(ModuleNotCopied)"
    Return
  ${EndIf}
  !insertmacro Tell MB_ICONINFORMATION "$(ModuleCopied)"
FunctionEnd
