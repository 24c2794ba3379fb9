#!/usr/bin/env bash
# Ulmet.exe is a 32-bit GUI program and bvx.dll exports the four COM entry
# points under their plain names; neither needs a DLL beyond Windows' own.
# The updater built with a release key (third argument) imports no more than
# the one without: it loads bcrypt.dll itself, so that it still starts where
# there is none and refuses there.
set -u
exe=$1 dll=$2 signed=${3:-}
fail=0
expect() { if grep -qE -- "$2" <<<"$1"; then echo "ok: $3"; else echo "FAILED: $3"; fail=1; fi; }
pe_exe=$(i686-w64-mingw32-objdump -p "$exe")
pe_dll=$(i686-w64-mingw32-objdump -p "$dll")
expect "$(file "$exe")" 'PE32 executable \(GUI\) Intel 80386' "Ulmet.exe is PE32 GUI i386"
expect "$pe_exe" 'Subsystem[[:space:]]+00000002' "Ulmet.exe subsystem is Windows GUI"
expect "$(file "$dll")" 'PE32 executable \(DLL\).*Intel 80386' "bvx.dll is a PE32 DLL"
for f in DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer; do
  expect "$pe_dll" "\][[:space:]]+$f\$" "bvx.dll exports $f undecorated"
done
system='^(kernel32|user32|gdi32|advapi32|shell32|comctl32|wininet|ole32|oleaut32|msvcrt|msimg32|version|shlwapi|winmm)\.dll$'
for f in "$exe" "$dll" $signed; do
  for d in $(i686-w64-mingw32-objdump -p "$f" | awk '/DLL Name:/ {print tolower($3)}'); do
    if ! grep -qE "$system" <<<"$d"; then echo "FAILED: $(basename "$f") imports $d"; fail=1; fi
  done
done
exit $fail
