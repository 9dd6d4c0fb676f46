# shellcheck shell=bash
# Sourced by the scripts that read cmake/architectures: its rows by the
# column names of its header line, and which rows this Debian release
# carries.

# architectures COLUMN...: those columns of every row, a line a row.
# architectures -row CPU: each column of CPU's row, a line "name value".
architectures() {
  awk -v want="$*" '
    /^# cpu / { for (i = 2; i <= NF; i++) { column[$i] = i - 1; name[i - 1] = $i }
      next }
    /^#/ { next }
    want ~ /^-row / { if ($1 == substr(want, 6))
        for (i = 1; i <= NF; i++) print name[i], $i
      next }
    { n = split(want, w, " "); line = ""
      for (i = 1; i <= n; i++) {
        if (!(w[i] in column)) {
          print "cmake/architectures: no column " w[i] | "cat >&2"
          exit 1
        }
        line = line (i > 1 ? " " : "") $column[w[i]]
      }
      print line }' "${BASH_SOURCE[0]%/*}/architectures"
}

# The major version of the Debian release of this machine, if it is Debian.
debian_release() {
  # shellcheck source=/dev/null
  (. /etc/os-release 2>/dev/null && [ "${ID-}" = debian ] &&
    echo "${VERSION_ID%%.*}") || true
}

# carried DEBIANS: whether this machine's release is one of the
# comma-separated releases, as a row's debians column lists them.
carried() {
  [[ ,$1, == *,$(debian_release),* ]]
}

# left_out WHO: one line naming the presets of the rows that this machine's
# release does not carry, if any, and why.
left_out() {
  local preset debians rows=()
  while read -r preset debians; do
    carried "$debians" || rows+=("$preset")
  done <<<"$(architectures preset debians)"
  [ ${#rows[@]} -eq 0 ] || echo "$1: leaves out ${rows[*]}: Debian" \
    "$(debian_release) has no musl for them (cmake/architectures)"
}
