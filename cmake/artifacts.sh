# shellcheck shell=bash
# Sourced by the scripts that name the release's files or list them.
# shellcheck source=cmake/architectures.sh
. "${BASH_SOURCE[0]%/*}/architectures.sh"

# The version of the tree's newest CHANGELOG entry (run from the tree).
project_version() { sed -n '1s/^pidrecord (\([0-9.]*\)) .*/\1/p' CHANGELOG; }

# The one list of the kinds of artifact, a line a kind: its name, the jobs
# that make it, and its file name for a VERSION and an ARCH. A job is a
# column of cmake/architectures, for every row's job, whose ARCH is the
# row's name in that column ("-": the row makes none), or windows, whose
# ARCH is win64. Every file but a .buildinfo is a package, with its SBOM
# beside it as NAME.spdx.json. Whatever names, lists or checks the files of
# a release takes them from here.
kinds='tgz cpu pidrecord-VERSION-linux-ARCH.tar.gz
deb debarch pidrecord_VERSION_ARCH.deb
rpm rpmarch pidrecord-VERSION-1.ARCH.rpm
zip windows pidrecord-VERSION-ARCH.zip
msi windows pidrecord-VERSION-ARCH.msi
buildinfo debarch,windows pidrecord_VERSION_ARCH.buildinfo'
# No file of a release is larger; write_sums refuses one that is.
largest=$((16 << 20))

# artifact KIND VERSION [ARCH]: the file name, win64 when ARCH is not given.
artifact() {
  local name
  name=$(awk -v k="$1" '$1 == k { print $3 }' <<<"$kinds")
  name=${name//VERSION/$2}
  echo "${name//ARCH/${3-win64}}"
}

# made_by JOB VERSION: the files that JOB (a row's preset, or windows) makes
# of VERSION, one a line, its .buildinfo last.
made_by() {
  local kind jobs name arch column value
  local -A row=()
  [ "$1" = windows ] || while read -r column value; do
    row[$column]=$value
  done <<<"$(architectures -row "$1")"
  while read -r kind jobs name; do
    if [ "$1" = windows ]; then arch=-; [[ $jobs != *windows ]] || arch=win64
    else arch=${row[${jobs%,windows}]:--}; fi
    [ "$arch" = - ] || artifact "$kind" "$2" "$arch"
  done <<<"$kinds"
}

# release_files VERSION: every file that a release of VERSION may hold, one
# a line: each job's, the packages' SBOMs, SHA256SUMS and its signature.
# With VERSION "*", patterns of them.
release_files() {
  local job
  for job in $(architectures preset) windows; do
    made_by "$job" "$1" | sed 'p; /\.buildinfo$/d; s/$/.spdx.json/'
  done
  printf '%s\n' SHA256SUMS SHA256SUMS.minisig
}

# write_sums DIR VERSION: DIR/SHA256SUMS over this version's packages, SBOMs
# and .buildinfo files alone, signed with MINISIGN_KEY if set. Fails on no
# package, a missing SBOM, an unreadable file, or one that is not a regular
# file or is over $largest bytes; a failed signature leaves none.
write_sums() {
  local version=$2 f listed=() sig
  (
    set -o pipefail
    cd "$1" || exit
    while read -r f; do
      [[ (-e $f || -L $f) && $f != SHA256SUMS* ]] || continue
      listed+=("$f")
      [[ -f $f && ! -L $f && $(stat -c %s -- "$f") -le $largest ]] || { echo \
        "$1/$f is not a regular file of at most $largest bytes" >&2; exit 1; }
      [[ $f == *.@(buildinfo|spdx.json) || -e $f.spdx.json ]] ||
        { echo "$1/$f has no SBOM beside it" >&2; exit 1; }
    done <<<"$(release_files "$version")"
    rm -f SHA256SUMS SHA256SUMS.minisig
    [ ${#listed[@]} -gt 0 ] || { echo "no package of $version in $1" >&2; exit 1; }
    printf '%s\n' "${listed[@]}" | LC_ALL=C sort | xargs sha256sum -- \
      >SHA256SUMS.part || { rm -f SHA256SUMS.part; exit 1; }
    mv SHA256SUMS.part SHA256SUMS
    [ -n "${MINISIGN_KEY-}" ] || exit 0
    sig=$(mktemp)
    minisign -S -s "$MINISIGN_KEY" -m SHA256SUMS -x "$sig" \
      -t "pidrecord $version, SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH" \
      </dev/null >/dev/null || { rm -f "$sig"; exit 1; }
    chmod 644 "$sig"
    mv "$sig" SHA256SUMS.minisig
  )
}

# write_buildinfo DIR ARCH: DIR's .buildinfo (deb-buildinfo(5), Format 1.0)
# for this build of ARCH from the tree, with no field that two builds from
# the same package versions do not share. Fails, writing none, on anything
# in DIR that is not a regular file, or that cannot be read.
write_buildinfo() {
  local version native f sum line files=() sums=
  version=$(project_version) native=$(dpkg --print-architecture)
  for f in "$1"/*; do
    [[ ${f##*/} != SHA256SUMS* && $f != *.buildinfo ]] || continue
    [[ -f $f && ! -L $f ]] ||
      { echo "write_buildinfo: $f is not a regular file" >&2; return 1; }
    files+=("${f##*/}")
  done
  for sum in md5 sha1 sha256; do
    sums+="Checksums-${sum^}:"$'\n'
    for f in "${files[@]}"; do
      { line=$(${sum}sum <"$1/$f") && [ -n "${line%% *}" ]; } ||
        { echo "write_buildinfo: cannot read $1/$f" >&2; return 1; }
      sums+=" ${line%% *} $(stat -c %s "$1/$f") $f"$'\n'
    done
  done
  {
    printf '%s\n' "Format: 1.0" "Source: pidrecord" "Binary: pidrecord" \
      "Architecture: $2" "Version: $version"
    printf %s "$sums"
    printf '%s\n' "Build-Origin: $(dpkg-vendor --query Vendor)" \
      "Build-Architecture: $native" "Build-Path: $PWD"
    echo "Build-Suites: $(cat /etc/apt/sources.list /etc/apt/sources.list.d/* \
      2>/dev/null | awk '$1 == "deb" { print $3 }
        $1 == "Suites:" { for (i = 2; i <= NF; i++) print $i }' | paste -sd ' ')"
    echo "Installed-Build-Depends:"
    dpkg-query -W -f '${Package}:${Architecture} (= ${Version})\n' |
      sed "s/:\(all\|$native\) / /; s/^/ /; \$!s/$/,/"
    echo "Environment:"
    printf ' %s="%s"\n' LC_ALL "${LC_ALL-}" SOURCE_DATE_EPOCH \
      "${SOURCE_DATE_EPOCH-}" TZ "${TZ-}" umask "$(umask)"
  } >"$1/$(artifact buildinfo "$version" "$2")"
}
