#!/usr/bin/env bash
# The release publisher against independent tools: digests rebuilt with
# md5sum from the file bytes, archives read with unzip, files compared with
# cmp; and its refusals.
# Usage: publisher_test.sh TESTBED_PUBLISH_BINARY
set -u
PUB=$1
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
fails=0
check() { local name=$1; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; fails=$((fails + 1)); fi; }
md5() { md5sum | cut -c1-32; }

# The chained digest, rebuilt from the bytes with md5sum and dd.
chained() {
  local f=$1 size off=0 d="" n
  size=$(stat -c %s "$f")
  while [ $off -lt $size ]; do
    n=$(( size - off < 32768 ? size - off : 32768 ))
    if [ $off = 0 ]; then
      d=$(dd if="$f" bs=32768 skip=0 count=1 status=none | md5)
    else
      d=$( { printf '%s' "$d"; dd if="$f" bs=32768 skip=$((off / 32768)) count=1 status=none; } | head -c $n | md5)
    fi
    off=$((off + n))
  done
  printf '%s' "$d"
}

C="$W/client"
mkdir -p "$C/Data/Skins/blue" "$C/Data/Skins/red" "$C/Old"
printf '0123456789' >"$C/ten.dll"
head -c 32769 /dev/urandom >"$C/a32769.bin"
head -c 65536 /dev/urandom >"$C/a65536.bin"
head -c 100000 /dev/urandom >"$C/Data/big.dat"
printf 'with a blank\n' >"$C/my file.txt"
printf 'blue\n' >"$C/Data/Skins/blue/a.bmp"
printf 'red\n' >"$C/Data/Skins/red/b.bmp"
: >"$C/empty.cfg"
printf 'client\n' >"$C/UlmetMain.exe"
printf 'updater\n' >"$C/Ulmet.exe"
printf 'installer\n' >"$W/setup.exe"
cat >"$W/release.txt" <<'REL'
# sample release
host 10.0.0.7
set CHECKUPNOTICE http://10.0.0.7/점검.html
installer setup.exe
archive Data\Skins.zip Skins
file Ulmet.ex_ Ulmet.exe
version 1001 ten.dll a32769.bin
version 1002 "my file.txt" Data\Skins.zip -gone.dll =Old
version 1003 Ulmet.ex_ a65536.bin
REL

"$PUB" --help >/dev/null; check "--help exits 0" test $? = 0
"$PUB" --client "$C" --release "$W/release.txt" --out "$W/tree" >"$W/out" 2>"$W/err"
check "publishes" test $? = 0
T="$W/tree"
check "directory file: record 5001, host, port 80, program configuration path" \
  test "$(grep -v '^;' "$T/UlLaunch/global_Ulmet.cfg")" = "$(printf '5001\n10.0.0.7\n80\n/UlLaunch/ULProgram.cfg')"
check "program configuration: instance number and update paths" \
  bash -c "grep -A1 -x '\[INSTANCENUMBER\]' '$T/UlLaunch/ULProgram.cfg' | tail -1 | grep -qx 5001 &&
           grep -A1 -x '\[UPDATESUBPATH\]' '$T/UlLaunch/ULProgram.cfg' | tail -1 | grep -qx /Ulmet3/files/ &&
           grep -A1 -x '\[FILEHASH\]' '$T/UlLaunch/ULProgram.cfg' | tail -1 | grep -qx /Ulmet3/ULHashFile.dat"
check "program configuration: a set section keeps its text, in code page 949" \
  bash -c "grep -a -A1 -x '\[CHECKUPNOTICE\]' '$T/UlLaunch/ULProgram.cfg' | tail -1 | iconv -f CP949 -t UTF-8 | grep -qx 'http://10.0.0.7/점검.html'"
check "update list: header and one line per version, blanks as '!'" \
  test "$(cat "$T/Ulmet3/UpdateList.dat")" = "$(printf '[ULMET3.0]\n1001 ten.dll a32769.bin\n1002 my!file.txt Data\\Skins.zip -gone.dll =Old\n1003 Ulmet.ex_ a65536.bin')"
check "a name with a blank is published with '!'" cmp -s "$T/Ulmet3/files/my!file.txt" "$C/my file.txt"
check "client files published under their paths" cmp -s "$T/Ulmet3/files/Data/big.dat" "$C/Data/big.dat"
check "file entry published from its source" cmp -s "$T/Ulmet3/files/Ulmet.ex_" "$C/Ulmet.exe"
check "installer published" cmp -s "$T/Ulmet3/Ulmet_install.exe" "$W/setup.exe"

unzip -Z1 "$T/Ulmet3/files/Data/Skins.zip" >"$W/zlist" 2>/dev/null
check "archive named with a backslash goes to its folder, keeps the sub-folders relative to it" \
  test "$(sort "$W/zlist" | tr '\n' ' ')" = "Skins/ Skins/blue/ Skins/blue/a.bmp Skins/red/ Skins/red/b.bmp "
check "archive content intact" bash -c "unzip -p '$T/Ulmet3/files/Data/Skins.zip' Skins/red/b.bmp | cmp -s - '$C/Data/Skins/red/b.bmp'"

H="$T/Ulmet3/ULHashFile.dat"
digest_of() { grep -v '^;' "$H" | awk -F: -v n="$1" '$1 == n {print $3}'; }
folder_of() { grep -v '^;' "$H" | awk -F: -v n="$1" '$1 == n {print $4}'; }
check "10 bytes: plain MD5" test "$(digest_of ten.dll)" = "$(md5 <"$C/ten.dll")"
check "32769 bytes: MD5 of the first character of the first chunk's digest" \
  test "$(digest_of a32769.bin)" = "$(head -c 32768 "$C/a32769.bin" | md5 | head -c 1 | md5)"
check "65536 bytes: MD5 of digest + first 32736 bytes of the second chunk" \
  test "$(digest_of a65536.bin)" = "$( { head -c 32768 "$C/a65536.bin" | md5 | tr -d '\n'; tail -c 32768 "$C/a65536.bin" | head -c 32736; } | md5)"
check "100000 bytes in a sub-folder: chained over four chunks" test "$(digest_of big.dat)" = "$(chained "$C/Data/big.dat")"
check "sub-folder written with a backslash, root files as .\\" \
  bash -c "[ '$(folder_of big.dat)' = 'Data\\' ] && [ '$(folder_of ten.dll)' = '.\\' ]"
check "a blank stays a blank in the hash list" test "$(digest_of 'my file.txt')" = "$(md5 <"$C/my file.txt")"
check "numbers run from 1" test "$(grep -v '^;' "$H" | cut -d: -f2 | tr '\n' ' ')" = "$(seq -s ' ' 1 $(grep -vc '^;' "$H")) "
check "the updater and empty files are not in the hash list" \
  bash -c "! grep -q '^Ulmet.exe:' '$H' && ! grep -q '^empty.cfg:' '$H' && grep -q 'empty file empty.cfg' '$W/err'"

printf 'x' >"$T/marker"
"$PUB" --client "$C" --release "$W/release.txt" --out "$T" >/dev/null 2>"$W/err2"
check "an existing tree is kept without --force" bash -c "[ $? = 1 ] && [ -f '$T/marker' ] && grep -q -- --force '$W/err2'"
"$PUB" --client "$C" --release "$W/release.txt" --out "$T" --force >/dev/null 2>&1
check "--force replaces it" bash -c "[ $? = 0 ] && [ ! -f '$T/marker' ] && [ -f '$T/Ulmet3/UpdateList.dat' ]"
mkdir -p "$W/precious"; printf 'keep' >"$W/precious/f"
"$PUB" --client "$C" --release "$W/release.txt" --out "$W/precious" --force >/dev/null 2>&1
check "--force never replaces a folder that is not a tree" bash -c "[ $? = 1 ] && [ -f '$W/precious/f' ]"
printf 'version 1001 nothere.dll\n' >"$W/bad.txt"
"$PUB" --client "$C" --release "$W/bad.txt" --out "$W/t2" >/dev/null 2>"$W/err3"
check "an entry without a file is refused with its line" bash -c "[ $? = 1 ] && grep -q 'nothere.dll (line 1)' '$W/err3' && [ ! -e '$W/t2' ]"
printf 'version 1001 ../x\n' >"$W/bad2.txt"
"$PUB" --client "$C" --release "$W/bad2.txt" --out "$W/t3" >/dev/null 2>"$W/err4"
check "an entry leaving the client folder is refused" bash -c "[ $? = 1 ] && grep -q 'inside the client folder' '$W/err4'"
printf 'version 1001 "-a b.dll"\n' >"$W/bad3.txt"
"$PUB" --client "$C" --release "$W/bad3.txt" --out "$W/t4" >/dev/null 2>"$W/err5"
check "a deletion of a name with a blank is refused" bash -c "[ $? = 1 ] && grep -q 'deletion' '$W/err5'"

echo "$fails failure(s)"
[ $fails = 0 ]
