#!/usr/bin/env bash
# Registration of bvx.dll with the real regsvr32 in the test prefix: the keys
# it writes, a second registration, unregistration, and the short module path
# for a folder whose name has blanks (and a quote).
#   registration_test.sh BVX_DLL REGDUMP_EXE
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env.sh"
dll=$1 regdump=$2

work=$(mktemp -d "$ULMET_BUILD/relay-reg.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The short name keeps the first characters of a long one: the quote stays.
folder="$work/Program Files/It's Ulmet"
mkdir -p "$folder"
cp "$dll" "$folder/bvx.dll"
win_dll=$(winepath -w "$folder/bvx.dll" 2>/dev/null)
win_dir=${win_dll%\\bvx.dll}

CLSID='{DDC012F8-A786-4584-856D-044BC1F49414}'
LIBID='{FE4F5263-11D5-4724-95BA-A978983B6369}'
IID='{DE2BA9C8-CF2E-41DF-8B64-441C516B64AE}'
KEYS=("HKCR\\Brevix.Quillet" "HKCR\\Brevix.Quillet.1" "HKCR\\CLSID\\$CLSID"
      "HKCR\\TypeLib\\$LIBID" "HKCR\\Interface\\$IID")

fail=0
ok() { echo "ok: $1"; }
bad() { echo "FAILED: $1"; fail=1; }
dump() { wine "$regdump" "$@" 2>/dev/null | tr -d '\r'; }
regsvr() { wine regsvr32 "$@" >/dev/null 2>&1; }

# Start from nothing of ours.
regsvr -u -s "$win_dll"

regsvr -s "$win_dll" && ok "regsvr32 -s exits 0" || bad "regsvr32 -s exits $?"
first=$(dump "${KEYS[@]}")

# The module path: short form, no blanks, quote kept, and it names our file.
inproc=$(sed -n "/^\[HKCR\\\\CLSID\\\\$CLSID\\\\InprocServer32\]\$/{n;p}" <<<"$first" | sed -n "s/^  @ = '\(.*\)'\$/\1/p")
if [ -z "$inproc" ]; then
  bad "InprocServer32 has a default value"
else
  [[ "$inproc" != *" "* ]] && ok "InprocServer32 path has no blanks ($inproc)" || bad "InprocServer32 path has blanks: $inproc"
  [[ "$inproc" == *"'"* ]] && ok "quote of the folder name kept in the short path" || bad "quote lost: $inproc"
  long=$(wine "$regdump" --long "$inproc" 2>/dev/null | tr -d '\r')
  [ "$long" = "$win_dll" ] && ok "InprocServer32 names the registered file" || bad "InprocServer32 resolves to '$long', not '$win_dll'"
fi

expected=$(cat <<EXP
[HKCR\\Brevix.Quillet]
  @ = 'Quillet Class'
[HKCR\\Brevix.Quillet\\CLSID]
  @ = '$CLSID'
[HKCR\\Brevix.Quillet\\CurVer]
  @ = 'Brevix.Quillet.1'
[HKCR\\Brevix.Quillet.1]
  @ = 'Quillet Class'
[HKCR\\Brevix.Quillet.1\\CLSID]
  @ = '$CLSID'
[HKCR\\CLSID\\$CLSID]
  @ = 'Quillet Class'
[HKCR\\CLSID\\$CLSID\\InprocServer32]
  @ = '<MODULE>'
  ThreadingModel = 'Apartment'
[HKCR\\CLSID\\$CLSID\\ProgID]
  @ = 'Brevix.Quillet.1'
[HKCR\\CLSID\\$CLSID\\Programmable]
[HKCR\\CLSID\\$CLSID\\TypeLib]
  @ = '$LIBID'
[HKCR\\CLSID\\$CLSID\\VersionIndependentProgID]
  @ = 'Brevix.Quillet'
[HKCR\\TypeLib\\$LIBID]
[HKCR\\TypeLib\\$LIBID\\1.0]
  @ = 'Brevix 1.0 Type Library'
[HKCR\\TypeLib\\$LIBID\\1.0\\0]
[HKCR\\TypeLib\\$LIBID\\1.0\\0\\win32]
  @ = '<DLL>'
[HKCR\\TypeLib\\$LIBID\\1.0\\FLAGS]
  @ = '8'
[HKCR\\TypeLib\\$LIBID\\1.0\\HELPDIR]
  @ = '<DIR>'
[HKCR\\Interface\\$IID]
  @ = 'IQuillet'
[HKCR\\Interface\\$IID\\ProxyStubClsid]
  @ = '{00020424-0000-0000-C000-000000000046}'
[HKCR\\Interface\\$IID\\ProxyStubClsid32]
  @ = '{00020424-0000-0000-C000-000000000046}'
[HKCR\\Interface\\$IID\\TypeLib]
  @ = '$LIBID'
  Version = '1.0'
EXP
)
normalise() {
  local s=$1
  [ -n "$inproc" ] && s=${s//"'$inproc'"/"'<MODULE>'"}
  s=${s//"'$win_dll'"/"'<DLL>'"}
  s=${s//"'$win_dir'"/"'<DIR>'"}
  printf '%s\n' "$s"
}
if [ "$(normalise "$first")" = "$expected" ]; then
  ok "registration wrote exactly the expected keys and values"
else
  bad "registry after registration differs (- expected, + found):"
  diff <(printf '%s\n' "$expected") <(normalise "$first") | sed 's/^/    /'
fi

# A second registration rewrites the class key whole: a stray sub key goes,
# everything else is as before.
wine reg add "HKCR\\CLSID\\$CLSID\\Stale" /ve /d leftover /f >/dev/null 2>&1
wine reg add "HKCR\\CLSID\\$CLSID\\Programmable\\Stale" /f >/dev/null 2>&1
grep -q 'Stale' <<<"$(dump "HKCR\\CLSID\\$CLSID")" || bad "could not plant a stray key"
regsvr -s "$win_dll" && ok "second regsvr32 -s exits 0" || bad "second regsvr32 -s exits $?"
second=$(dump "${KEYS[@]}")
[ "$second" = "$first" ] && ok "second registration leaves the same single class key" \
  || { bad "second registration differs:"; diff <(printf '%s\n' "$first") <(printf '%s\n' "$second") | sed 's/^/    /'; }
clsid_count=$(wine reg query 'HKCR\CLSID' 2>/dev/null | tr -d '\r' | grep -ci "CLSID\\\\$CLSID\$")
[ "$clsid_count" = 1 ] && ok "one class key under CLSID" || bad "$clsid_count class keys under CLSID"

# Unregistration removes ours and keeps CLSID with the others' classes.
others_before=$(wine reg query 'HKCR\CLSID' 2>/dev/null | tr -d '\r' | grep -c '^HKEY')
regsvr -u -s "$win_dll" && ok "regsvr32 -u -s exits 0" || bad "regsvr32 -u -s exits $?"
after=$(dump "${KEYS[@]}")
for k in "${KEYS[@]}"; do
  grep -qxF "[$k] missing" <<<"$after" && ok "unregistered: $k gone" || bad "unregistered: $k still there"
done
others_after=$(wine reg query 'HKCR\CLSID' 2>/dev/null | tr -d '\r' | grep -c '^HKEY')
[ "$others_after" -ge 10 ] && [ "$others_after" = $((others_before - 1)) ] \
  && ok "CLSID kept with the other $others_after classes" || bad "CLSID had $others_before keys, now $others_after"

# Unregistering again finds no type library to remove and says so through
# regsvr32's exit code (5: DllUnregisterServer failed); the rest is unchanged.
regsvr -u -s "$win_dll"
rc=$?
[ $rc = 5 ] && ok "second regsvr32 -u -s reports the missing type library" || bad "second regsvr32 -u -s exits $rc"
others_again=$(wine reg query 'HKCR\CLSID' 2>/dev/null | tr -d '\r' | grep -c '^HKEY')
[ "$others_again" = "$others_after" ] && ok "second unregistration changed nothing" || bad "CLSID now has $others_again keys"

exit $fail
