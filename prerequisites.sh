#!/usr/bin/env bash
# The one list of the Debian packages that each step needs, on every Debian
# release. Installs what the named steps lack, as root or through sudo; a row
# whose musl this release lacks is left out, in one line that says so.
set -euo pipefail
# A word "@step" stands for that step's packages.
declare -A needs=(
  # The workflows of the same names.
  [default]="cmake ninja-build g++ libgtest-dev strace"
  [asan]="@default"
  [fuzz]="@default clang libclang-rt-dev"
  [release]="cmake ninja-build g++ musl-tools dpkg-dev rpm bzip2 jq strace
    minisign openssl git distro-info-data"
  [windows]="cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest
    mandoc zip unzip dpkg-dev jq minisign openssl osslsigncode"
  # The scripts that .ci/run runs beside them.
  [packages]="lintian rpm rpmlint jq mandoc unzip qemu-user binutils
    binutils-mingw-w64-x86-64 osslsigncode"
  [newcomer]="mmdebstrap mount git distro-info-data"
  [bench]="@default @release @windows valgrind hyperfine linux-perf"
  [shellcheck]="shellcheck"
)
# Each cross row this release carries: its compiler, musl, emulator, binutils.
# shellcheck source=cmake/architectures.sh
. "$(dirname "$0")/cmake/architectures.sh"
# The MSI, from Debian 13 on: Debian 12's wixl cannot write PATH.
if [[ $(debian_release) -ge 13 ]]; then
  needs[windows]+=" wixl msitools"
  needs[packages]+=" msitools"
fi
while read -r debarch triplet qemu releases preset; do
  if ! carried "$releases"; then
    needs[$preset]=-
  elif [ "$qemu" != - ]; then
    needs[$preset]="cmake ninja-build g++-${triplet//_/-} musl-dev:$debarch
      qemu-user dpkg-dev rpm bzip2 jq minisign"
    needs[packages]+=" binutils-${triplet//_/-}"
  fi
done <<<"$(architectures debarch triplet qemu releases preset)"
steps=$(printf '%s\n' "${!needs[@]}" | sort | paste -sd ' ')
[ $# -gt 0 ] || { echo "usage: $0 STEP... (of: $steps)" >&2; exit 2; }
expand() { # step: its packages, one a line
  local p
  for p in ${needs[$1]}; do
    if [[ $p == @* ]]; then expand "${p#@}"; elif [ "$p" != - ]; then echo "$p"; fi
  done
}
for step; do
  [[ -n $step && -n ${needs[$step]-} ]] ||
    { echo "$0: no step '$step': name steps of: $steps" >&2; exit 2; }
done
for step; do [ "${needs[$step]}" != - ] || { left_out "$0"; break; }; done
missing=() archs=()
for p in $(for step; do expand "$step"; done | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' ||
    missing+=("$p")
  # A package of another architecture needs that architecture added.
  [[ $p != *:* ]] || archs+=("${p#*:}")
done
[ ${#missing[@]} -gt 0 ] || exit 0
sudo=()
[ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null || { echo "$0: missing" \
  "${missing[*]}: run $0 $* as root to install them" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
for a in "${archs[@]}"; do
  dpkg --print-foreign-architectures | grep -qx "$a" ||
    "${sudo[@]}" dpkg --add-architecture "$a"
done
# An index that fails to download (a mirror in sync) need not hold what is
# missing: the install says whether it does.
"${sudo[@]}" apt-get update -qq ||
  echo "$0: apt-get update failed in part; installing all the same" >&2
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
