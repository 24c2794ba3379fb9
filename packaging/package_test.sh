#!/usr/bin/env bash
# The operators' Debian packages as installed: unpacked into a scratch root
# (dpkg -x), their files where the packages say, the programs built for
# production (no sanitizer runtime; position-independent, read-only
# relocations, bound now), --help of both, a publish round trip (init,
# release, verify) and a crash report received and shown, all with the
# installed programs.
# Usage: package_test.sh PACKAGES_FOLDER WORK_FOLDER
set -u
PKG=$1
WORK=$2
fail() { echo "package test: $*" >&2; exit 1; }
ls "$PKG"/ulmet-publish_*.deb "$PKG"/ulmet-reports_*.deb >/dev/null 2>&1 ||
  fail "no packages in $PKG (scripts/build-release.sh makes them)"
rm -rf "$WORK"
mkdir -p "$WORK/root"
for deb in "$PKG"/*.deb; do dpkg -x "$deb" "$WORK/root" || fail "dpkg -x $deb"; done
ROOT=$WORK/root
P=$ROOT/usr/bin/ulmet-publish
R=$ROOT/usr/bin/ulmet-reports
for f in usr/bin/ulmet-publish usr/bin/ulmet-reports usr/share/man/man1/ulmet-publish.1.gz \
         usr/share/man/man1/ulmet-reports.1.gz lib/systemd/system/ulmet-reports.service \
         etc/nginx/sites-available/ulmet.conf etc/nginx/sites-available/ulmet-reports.conf \
         usr/share/doc/ulmet-reports/copyright usr/share/doc/ulmet-publish/changelog.gz; do
  [ -f "$ROOT/$f" ] || fail "$f is not in the packages"
done
grep -q '^ExecStart=/usr/bin/ulmet-reports serve' "$ROOT/lib/systemd/system/ulmet-reports.service" ||
  fail "the unit does not start the installed program"
for prog in "$P" "$R"; do
  ! ldd "$prog" | grep -q 'libasan\|libubsan' || fail "$prog links a sanitizer runtime"
  readelf -h "$prog" | grep -q 'Type:.*DYN' || fail "$prog is not position-independent"
  readelf -l "$prog" | grep -q GNU_RELRO || fail "$prog has no read-only relocations"
  readelf -d "$prog" | grep -q 'BIND_NOW\|FLAGS.*NOW' || fail "$prog does not bind now"
done
"$P" --help | grep -q '^  release' || fail "ulmet-publish --help"
"$R" --help | grep -q '^  symbols' || fail "ulmet-reports --help"
"$R" symbols --help | grep -q 'symbols add' || fail "ulmet-reports symbols --help"

# A publish round trip: a first tree, the next release, verify.
C=$WORK/client
mkdir -p "$C-1000/Data" "$C-1001/Data"
printf 'client 1000\n' >"$C-1000/UlmetMain.exe"
printf 'data\n' >"$C-1000/Data/a.dat"
printf 'client 1001\n' >"$C-1001/UlmetMain.exe"
printf 'data\n' >"$C-1001/Data/a.dat"
printf 'new\n' >"$C-1001/Data/b.dat"
"$P" init --client "$C-1000" --out "$WORK/tree" --host 127.0.0.1 >"$WORK/init.log" 2>&1 || fail "init: $(cat "$WORK/init.log")"
"$P" release --tree "$WORK/tree" --client "$C-1001" >"$WORK/release.log" 2>&1 || fail "release: $(cat "$WORK/release.log")"
"$P" verify "$WORK/tree" >"$WORK/verify.log" 2>&1 || fail "verify: $(cat "$WORK/verify.log")"
grep -rqs 'b.dat' "$WORK/tree/Ulmet3" || fail "the release does not list the new file"

# A crash report received by the installed receiver and shown on its page.
export ULMET_REPORTS_PASSWORD=package-test
"$R" serve --store "sqlite:$WORK/reports.db" --listen 127.0.0.1:0 --ready-file "$WORK/ready" \
  --min-free-mb 0 >"$WORK/serve.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null' EXIT
for _ in $(seq 1 100); do [ -s "$WORK/ready" ] && break; sleep 0.1; done
port=$(cut -d' ' -f2 "$WORK/ready" 2>/dev/null)
[ -n "$port" ] || fail "serve did not listen: $(cat "$WORK/serve.log")"
body='uid=p1&fver=ulmet3&ver=1004&fadd=000005BB&fmod=UlmetMain.exe&ladd=0005C228&lmod=ntdll.dll&conts=Version%20%3A%201004%0D%0A'
status=$(curl -s -o /dev/null -w '%{http_code}' -H 'Content-Type: application/x-www-form-urlencoded' \
  --data-binary "$body" "http://127.0.0.1:$port/report")
[ "$status" = 200 ] || fail "the post was answered $status"
curl -s -u "operator:package-test" "http://127.0.0.1:$port/" | grep -q '받은 보고 1건' || fail "the page does not show the report"
kill $pid
wait $pid || fail "serve did not end cleanly: $(cat "$WORK/serve.log")"
trap - EXIT
echo "packages: installed into $ROOT; --help, publish round trip and a report: ok"
