#!/usr/bin/env bash
# Prints an SPDX 2.3 document for a package: the program, and each Debian
# package linked into it statically, with the license that its copyright
# file declares (sbom.jq). Built with jq, so that every value is escaped.
# Usage: sbom.sh FILE VERSION EPOCH [DEBIANPACKAGE ITSVERSION ITSARCH]...
set -euo pipefail
file=$1 version=$2 epoch=$3
shift 3
components=()
while [ $# -gt 0 ]; do
  components+=("$(jq -Rs --arg name "$1" --arg v "$2" --arg arch "$3" \
    --arg n ${#components[@]} -f "${0%/*}/sbom.jq" "/usr/share/doc/$1/copyright")")
  shift 3
done
printf '%s\n' "${components[@]}" | jq -s --arg file "${file##*/}" \
  --arg version "$version" --arg sha "$(sha256sum <"$file" | cut -c1-64)" \
  --arg created "$(date -u -d "@$epoch" +%Y-%m-%dT%H:%M:%SZ)" '{
    spdxVersion: "SPDX-2.3", dataLicense: "CC0-1.0", SPDXID: "SPDXRef-DOCUMENT",
    name: $file,
    # The document describes these bytes, and only these.
    documentNamespace: "https://spdx.org/spdxdocs/\($file)-sha256-\($sha)",
    creationInfo: {created: $created,
      creators: ["Tool: pidrecord-sbom.sh-\($version)"]},
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
