# shellcheck shell=bash
# Sourced by the scripts that read cmake/architectures, by the column names
# of its header line, and ask which rows this Debian release carries.

# architectures COLUMN...: those columns of every row, a line a row.
# architectures -row CPU|PRESET: each column of that row, a line "name value".
architectures() {
  awk -v want="$*" '
    /^# cpu / { for (i = 2; i <= NF; i++) { column[$i] = i - 1; name[i - 1] = $i }
      n = split(want, w, " "); next }
    /^#/ { next }
    w[1] == "-row" { if ($1 == w[2] || $column["preset"] == w[2])
        for (i = 1; i <= NF; i++) print name[i], $i
      next }
    { line = ""
      for (i = 1; i <= n; i++) {
        if (!(w[i] in column)) {
          print "cmake/architectures: no column " w[i] | "cat >&2"; exit 1 }
        line = line (i > 1 ? " " : "") $column[w[i]]
      }
      print line }' "$architectures_table"
}
# (Found now, as the caller may change folders.)
architectures_table=$(realpath "${BASH_SOURCE[0]%/*}/architectures")

# This machine's Debian release as the table counts them: the newest it
# names not newer than VERSION_ID, or on testing and unstable, which have
# none, than debian.csv's number for the codename: the newest stable one.
debian_release() {
  local own
  # shellcheck source=/dev/null
  own=$(. /etc/os-release 2>/dev/null && [ "${ID-}" = debian ] &&
    if [ -n "${VERSION_ID-}" ]; then echo "${VERSION_ID%%.*}"; else
      awk -F, -v c="${VERSION_CODENAME-}" '$3 == c { print $1 }' \
        /usr/share/distro-info/debian.csv 2>/dev/null | grep . || echo 999
    fi) || return 0
  architectures releases | tr , '\n' | sort -n |
    awk -v own="$own" '$1 <= own + 0 { r = $1 } END { print r }'
}

# carried RELEASES: whether this machine's release is among a row's.
carried() { [[ ,$1, == *,$(debian_release),* ]]; }
# codename N: Debian N's codename, from distro-info-data's table of them.
codename() {
  awk -F, -v n="$1" '$1 == n { print $3 }' /usr/share/distro-info/debian.csv |
    grep . || { echo "distro-info-data names no Debian $1: install it," \
      "or update it" >&2; return 1; }
}

# left_out WHO: one line naming the presets of the rows not carried here.
left_out() {
  local rows
  rows=$(architectures preset releases | while read -r preset releases; do
    carried "$releases" || echo "$preset"; done | tr '\n' ' ')
  # shellcheck source=/dev/null
  [ -z "$rows" ] || echo "$1: leaves out ${rows% }:" \
    "$(. /etc/os-release 2>/dev/null; echo "${PRETTY_NAME-this system}")" \
    "has no musl for them (cmake/architectures)"
}
