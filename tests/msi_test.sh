#!/usr/bin/env bash
# The MSI: what its tables mean, read by msiinfo, and under Wine, in a prefix
# of its own, a silent install, pidrecord run through PATH by a new console,
# a silent uninstall, an upgrade from a build of a lower version and a
# downgrade refused, each leaving PATH, the installed files and the products
# registered as they must be. Run from the source tree after the windows
# workflow, where it makes an MSI.
set -euo pipefail
# shellcheck source=cmake/artifacts.sh
. cmake/artifacts.sh
version=$(project_version) old=0.0.1
wine=$(command -v /usr/lib/wine/wine64 wine64 wine | head -n1)
server=${wine%64}server
work=$(mktemp -d)
# Wine's server keeps the prefix's registry until it is told to end.
trap 'WINEPREFIX=$work/prefix "$server" -k 2>/dev/null
  rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
msi=$PWD/build/dist/$(artifact msi "$version")
unzip -q "build/dist/$(artifact zip "$version")" -d "$work/$version"

# The same tree a version lower, built and packed as by the windows workflow.
mkdir "$work/src"
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$work/src"
(cd "$work/src" && sed -i "1s/($version)/($old)/" CHANGELOG &&
  cmake --preset windows -DBUILD_TESTING=OFF >/dev/null &&
  cmake --build build/windows >/dev/null && cpack --preset windows >/dev/null)
older=$work/src/build/dist/$(artifact msi $old)
unzip -q "$work/src/build/dist/$(artifact zip $old)" -d "$work/$old"

# Where each file goes, what PATH gets, which versions go and which stay,
# for whom.
tables=(Directory Component File Environment LaunchCondition Upgrade Property)
for t in "${tables[@]}"; do
  msiinfo export "$msi" "$t" | tr -d '\r' | tail -n +4 >"$work/$t"
done
got=$(cd "$work" && awk -F'\t' -v v="$version" 'FNR == 1 { n++ }
  n == 1 { dir[$1] = $2 "\\" $3 }
  n == 2 { to[$1] = dir[$3] ($4 % 512 >= 256 ? " 64-bit" : ""); key[$6] = $3 }
  n == 3 { print $3, to[$2] }
  n == 4 && $2 ~ /^[=*]+PATH$/ && $2 ~ /\*/ &&
    $3 == "[~];[" key["pidrecord.exe"] "]" {
    print "system PATH + the folder of pidrecord.exe" }
  n == 5 { message[$1] = $2 }
  n == 6 && $5 % 4 < 2 && $2 == "" && $3 == v && $5 % 1024 < 512 {
    print "lower versions removed" }
  n == 6 && $5 % 4 >= 2 && $2 == v && $5 % 512 < 256 &&
    message["NOT " $7] ~ /newer version/ { print "higher versions refused" }
  n == 7 && $1 == "ALLUSERS" && $2 == 1 { print "for every user" }
  ' "${tables[@]}" | sort)
want=$(cd "$work/$version" &&
  printf '%s ProgramFiles64Folder\\pidrecord 64-bit\n' * &&
  printf '%s\n' "system PATH + the folder of pidrecord.exe" \
    "lower versions removed" "higher versions refused" "for every user")
[ "$got" = "$(sort <<<"$want")" ] || fail "the MSI's tables say: $got"
! msiinfo tables "$msi" | grep -qx Dialog || fail "the MSI has dialogs"
# What Windows Installer asks of a 64-bit package's summary: the x64
# platform in its template, and a page count (the schema, which msiinfo
# calls Version) of 200 or more.
summary=$(msiinfo suminfo "$msi" | tr -d '\r')
pages=$(sed -n 's/^Version: \([0-9]*\) .*/\1/p' <<<"$summary")
if ! grep -q '^Template: x64;' <<<"$summary" || [ "${pages:-0}" -lt 200 ]; then
  fail "the MSI's summary is not a 64-bit package's: $summary"
fi

# What an install changes: PATH's entries (Wine's msi leaves the separator
# before an entry that it removes: empty ones are none), the files in
# Program Files\pidrecord, the products registered.
export WINEPREFIX=$work/prefix WINEDEBUG=-all XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR" "$WINEPREFIX"
# One server until the test ends it, as in tests/wine_prefix.cmake.
boot() {
  "$server" -p600 2>/dev/null
  "$wine" wineboot >/dev/null 2>&1
}
boot
enoent=$("$wine" build/windows/tests/sweep_errors.exe | tr -d '\r' |
  sed -n 's/^ENOENT\t//p')
system='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
products='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
state() {
  "$wine" reg query "$system" /v PATH | tr -d '\r' |
    sed -n 's/^ *PATH *REG_[A-Z_]* *//p' | tr ';' '\n' | grep -v '^$'
  (cd "$WINEPREFIX/drive_c/Program Files/pidrecord" 2>/dev/null &&
    sha256sum -- *) || true
  "$wine" reg query "$products" /s | tr -d '\r' |
    awk '$1 == "DisplayName" { name = $3 }
      $1 == "DisplayVersion" && name == "pidrecord" { print "product", $3 }'
}
clean=$(state)
msiexec() { # what, 0 or refused, the version installed after it or -, args
  local status=0 want=$clean
  "$wine" msiexec "${@:4}" /qn || status=$?
  [[ $2 == 0 && $status -eq 0 || $2 == refused && $status -ne 0 ]] ||
    fail "$1: status $status"
  [ "$3" = - ] || want=$(printf '%s\n%s\n' "$clean" \
    "C:\\Program Files\\pidrecord\\"; cd "$work/$3" && sha256sum -- *
    echo "product $3")
  [ "$(state)" = "$want" ] || fail "$1 leaves: $(state)"
}
msiexec "an install" 0 "$version" /i "$msi"
# A new console that Wine starts once its server has ended reads PATH anew.
"$server" -k
boot
mkdir "$WINEPREFIX/drive_c/ckpt"
cd "$work"
while IFS='|' read -r status command says; do
  got=0
  out=$("$wine" cmd /c "$command" 2>&1 | tr -d '\r') || got=$?
  [ "$got|$out" = "$status|$says" ] || fail "$command: status $got, $out"
done <<END
0|where pidrecord|C:\\Program Files\\pidrecord\\pidrecord.exe
0|pidrecord checkpoint C:\\ckpt|
0|pidrecord restore C:\\ckpt|
1|pidrecord restore C:\\none|fopen pidfile: $enoent
END
[ "$(od -An -tx1 "$WINEPREFIX/drive_c/ckpt/pid" | tr -d ' \n')" = 2d310d0a ] ||
  fail "pidrecord through PATH wrote another record"
msiexec "an uninstall" 0 - /x "$msi"
msiexec "an install of $old" 0 $old /i "$older"
msiexec "an upgrade" 0 "$version" /i "$msi"
msiexec "a downgrade" refused "$version" /i "$older"
msiexec "an uninstall after the upgrade" 0 - /x "$msi"

echo "msi: $failures failures"
[ "$failures" -eq 0 ]
