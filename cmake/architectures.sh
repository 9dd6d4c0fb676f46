# shellcheck shell=bash
# Sourced by the scripts that read cmake/architectures, by the column names
# of its header line, and ask which rows this Debian release carries.

# architectures COLUMN...: those columns of every row, a line a row.
# architectures -row CPU: each column of CPU's row, a line "name value".
architectures() {
  awk -v want="$*" '
    /^# cpu / { for (i = 2; i <= NF; i++) { column[$i] = i - 1; name[i - 1] = $i }
      n = split(want, w, " "); next }
    /^#/ { next }
    w[1] == "-row" { if ($1 == w[2]) for (i = 1; i <= NF; i++) print name[i], $i
      next }
    { line = ""
      for (i = 1; i <= n; i++) {
        if (!(w[i] in column)) {
          print "cmake/architectures: no column " w[i] | "cat >&2"; exit 1 }
        line = line (i > 1 ? " " : "") $column[w[i]]
      }
      print line }' "${BASH_SOURCE[0]%/*}/architectures"
}

# The major version of this machine's Debian release, if it is Debian.
debian_release() {
  # shellcheck source=/dev/null
  (. /etc/os-release 2>/dev/null && [ "${ID-}" = debian ] &&
    echo "${VERSION_ID%%.*}") || true
}

# carried DEBIANS: whether this release is among a row's debians.
carried() { [[ ,$1, == *,$(debian_release),* ]]; }

# left_out WHO: one line naming the rows' presets that this release does not
# carry, if any, and why.
left_out() {
  local rows
  rows=$(architectures preset debians | while read -r preset debians; do
    carried "$debians" || echo "$preset"; done | tr '\n' ' ')
  [ -z "$rows" ] || echo "$1: leaves out ${rows% }: Debian" \
    "$(debian_release) has no musl for them (cmake/architectures)"
}
