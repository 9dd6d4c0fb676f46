#!/usr/bin/env bash
# Prints an SPDX 2.3 document for a package: the program, and each Debian
# package whose code is linked into it statically, as package.sh finds them
# for the notices. Built with jq, so that every value is escaped.
# Usage: sbom.sh FILE VERSION EPOCH [DEBIANPACKAGE ITSVERSION ITSARCH]...
set -euo pipefail
file=$1 version=$2 epoch=$3
shift 3

# Letters, digits, "." and "-" only, as an SPDX identifier allows.
spdx_id() { echo "${1//[^A-Za-z0-9.-]/-}"; }

# The SPDX identifier of one of Debian's short license names; nothing where
# SPDX has none.
spdx_license() { # name
  local n=${1,,}
  case $n in
  mit | expat) echo MIT ;;
  isc) echo ISC ;;
  zlib) echo Zlib ;;
  zpl-2.1) echo ZPL-2.1 ;;
  apache-2.0) echo Apache-2.0 ;;
  bsd-2-clause) echo BSD-2-Clause ;;
  bsd-3-clause) echo BSD-3-Clause ;;
  gpl-[0-9]* | lgpl-[0-9]*)
    local family=${n%%-*} v=${n#*-} s=-only
    if [[ $v == *+ ]]; then v=${v%+} s=-or-later; fi
    [[ $v == *.* ]] || v+=.0
    if [[ $v =~ ^[0-9]+\.[0-9]+$ ]]; then echo "${family^^}-$v$s"; fi ;;
  esac
}

# The License names of a machine-readable copyright file's Files paragraphs.
files_licenses() { # copyright file
  awk '/^Files:/ { f = 1 } /^[ \t]*$/ { f = 0 }
    f && sub(/^License:[ \t]*/, "") { print }' "$1"
}

# The texts that a copyright file gives under a License name, a blank line
# between one paragraph's and the next.
license_text() { # copyright file, name
  awk -v want="$2" '
    /^[ \t]*$/ { on = 0; next }
    /^License:/ { n = $0; sub(/^License:[ \t]*/, "", n); on = n == want
      first = 1; next }
    /^[^ \t]/ { on = 0; next }
    on { sub(/^[ \t]/, ""); if ($0 == ".") $0 = ""
      if (first && out != "") out = out "\n"
      first = 0; out = out $0 "\n" }
    END { printf "%s", out }' "$1"
}

gcc_says="The following runtime libraries are licensed under the terms of \
the GNU General Public License (v3 or later) with version 3.1 of the GCC \
Runtime Library Exception (included in this file):"

# The license that Debian's copyright file declares for a package, whole:
# every Files paragraph's license, mapped to SPDX, joined by AND; a name that
# SPDX lacks becomes a LicenseRef defined with Debian's text. Prints a JSON
# object {expression, refs, comment}; the expression is NOASSERTION where the
# file is not machine-readable, or a license line is beyond this mapping.
debian_license() { # package
  local file=/usr/share/doc/$1/copyright name part id op term text
  local terms=() refs=() parts
  local -A known=() taken=()
  if ! head -n1 "$file" | grep -q '^Format: '; then
    # GCC's copyright files are prose, but say which license covers libgcc,
    # the part of GCC that is linked in: the SBOM says where it read that.
    if tr -s ' \n' '  ' <"$file" | grep -qF "$gcc_says - libgcc "; then
      jq -n --arg file "$file" --arg says "$gcc_says" '{
        expression: "GPL-3.0-or-later WITH GCC-exception-3.1", refs: [],
        comment: "\($file) is not machine-readable; it says: \($says) libgcc"}'
    else
      echo '{"expression": "NOASSERTION", "refs": []}'
    fi
    return
  fi
  while read -r name; do
    # "A and B" and "A or B" are mapped; mixed ones, exceptions and lists
    # are not.
    if [[ $name == *" with "* || $name == *,* ||
      ($name == *" and "* && $name == *" or "*) ]]; then
      echo '{"expression": "NOASSERTION", "refs": []}'
      return
    fi
    op=" AND "
    [[ $name != *" or "* ]] || op=" OR "
    parts=()
    part=${name// and /$'\n'}
    while read -r part; do
      id=$(spdx_license "$part")
      if [ -z "$id" ]; then
        id=LicenseRef-$(spdx_id "$1-$part")
        if [ -z "${known[$id]-}" ]; then
          text=$(license_text "$file" "$part")
          refs+=("$(jq -n --arg id "$id" --arg name "$part" \
            --arg text "${text:-See /usr/share/doc/$1/copyright.}" \
            '{licenseId: $id, name: $name, extractedText: $text}')")
        fi
        known[$id]=1
      fi
      parts+=("$id")
    done <<<"${part// or /$'\n'}"
    if [ "$op" = " OR " ]; then
      term=$(printf ' OR %s' "${parts[@]}")
      parts=("(${term# OR })")
    fi
    for term in "${parts[@]}"; do
      [ -n "${taken[$term]-}" ] || terms+=("$term")
      taken[$term]=1
    done
  done <<<"$(files_licenses "$file")"
  printf '%s\n' "${refs[@]}" |
    jq -s --arg expr "$(printf '%s\n' "${terms[@]}")" \
    '{expression: ($expr | rtrimstr("\n") | split("\n") | join(" AND ")),
      refs: .}'
}

components=()
while [ $# -gt 0 ]; do
  components+=("$(jq -n --arg name "$1" --arg v "$2" --arg arch "$3" \
    --arg id "SPDXRef-deb-${#components[@]}-$(spdx_id "$1")" \
    --argjson license "$(debian_license "$1")" '{
        package: {
          name: $name, SPDXID: $id, versionInfo: $v,
          downloadLocation: "NOASSERTION", filesAnalyzed: false,
          licenseConcluded: "NOASSERTION",
          licenseDeclared: $license.expression,
          copyrightText: "NOASSERTION",
          licenseComments: $license.comment,
          externalRefs: [{
            referenceCategory: "PACKAGE-MANAGER", referenceType: "purl",
            referenceLocator: ("pkg:deb/debian/\($name | @uri)@\($v | @uri)" +
              "?arch=\($arch)")}]},
        refs: $license.refs}
        | if .package.licenseComments then . else del(.package.licenseComments)
          end')")
  shift 3
done
printf '%s\n' "${components[@]}" | jq -s --arg file "${file##*/}" \
  --arg version "$version" --arg sha "$(sha256sum <"$file" | cut -c1-64)" \
  --arg created "$(date -u -d "@$epoch" +%Y-%m-%dT%H:%M:%SZ)" '{
    spdxVersion: "SPDX-2.3",
    dataLicense: "CC0-1.0",
    SPDXID: "SPDXRef-DOCUMENT",
    name: $file,
    # The document describes these bytes, and only these.
    documentNamespace: "https://spdx.org/spdxdocs/\($file)-sha256-\($sha)",
    creationInfo: {
      created: $created,
      creators: ["Tool: pidrecord-package.sh-\($version)"]
    },
    packages: ([{
      name: "pidrecord", SPDXID: "SPDXRef-pidrecord", versionInfo: $version,
      packageFileName: $file, downloadLocation: "NOASSERTION",
      filesAnalyzed: false,
      checksums: [{algorithm: "SHA256", checksumValue: $sha}],
      licenseConcluded: "NOASSERTION",
      licenseDeclared: "LicenseRef-none-chosen", copyrightText: "NOASSERTION"
    }] + map(.package)),
    hasExtractedLicensingInfos: ([{
      licenseId: "LicenseRef-none-chosen", name: "none chosen",
      extractedText: "The owner of pidrecord has not chosen a license for its own files yet."
    }] + [.[].refs[]]),
    relationships: ([{
      spdxElementId: "SPDXRef-DOCUMENT", relationshipType: "DESCRIBES",
      relatedSpdxElement: "SPDXRef-pidrecord"
    }] + map({
      # The program links each component in, not the other way round.
      spdxElementId: "SPDXRef-pidrecord", relationshipType: "STATIC_LINK",
      relatedSpdxElement: .package.SPDXID
    }))
  }'
