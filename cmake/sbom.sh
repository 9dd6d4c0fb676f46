# Sourced by package.sh: sbom FILE prints an SPDX 2.3 document for the
# package FILE: the program, and each Debian package whose code is linked
# into it statically, from the same query as the notices.

# A Debian copyright file's license for all its files, where it is written
# in the machine-readable format as an SPDX identifier; NOASSERTION if not.
debian_license() { # package
  local file=/usr/share/doc/$1/copyright id
  head -n1 "$file" | grep -q '^Format: ' || { echo NOASSERTION; return; }
  id=$(awk '/^Files: \*$/ { f = 1 } f && /^License:/ { print $2; exit }' \
    "$file")
  case $id in
  MIT | ISC | Zlib | ZPL-2.1 | BSD-2-Clause | BSD-3-Clause | Apache-2.0)
    echo "$id" ;;
  *) echo NOASSERTION ;;
  esac
}

sbom() { # package file
  local i purl sep=""
  cat <<END
{
  "spdxVersion": "SPDX-2.3",
  "dataLicense": "CC0-1.0",
  "SPDXID": "SPDXRef-DOCUMENT",
  "name": "$1",
  "documentNamespace": "https://spdx.org/spdxdocs/pidrecord-$version/$1",
  "creationInfo": {
    "created": "$(date -u -d "@$epoch" +%Y-%m-%dT%H:%M:%SZ)",
    "creators": ["Tool: pidrecord-package.sh-$version"]
  },
  "packages": [
    {
      "name": "pidrecord",
      "SPDXID": "SPDXRef-pidrecord",
      "versionInfo": "$version",
      "packageFileName": "$1",
      "downloadLocation": "NOASSERTION",
      "filesAnalyzed": false,
      "licenseConcluded": "NOASSERTION",
      "licenseDeclared": "LicenseRef-none-chosen",
      "copyrightText": "NOASSERTION"
    }
END
  for i in "${!pkgs[@]}"; do
    purl="pkg:deb/debian/${pkgs[i]}@$(sed 's/:/%3A/g; s/+/%2B/g' \
      <<<"${versions[i]}")?arch=${debarchs[i]}"
    cat <<END
    ,{
      "name": "${pkgs[i]}",
      "SPDXID": "SPDXRef-deb-${pkgs[i]}",
      "versionInfo": "${versions[i]}",
      "downloadLocation": "NOASSERTION",
      "filesAnalyzed": false,
      "licenseConcluded": "NOASSERTION",
      "licenseDeclared": "$(debian_license "${pkgs[i]}")",
      "copyrightText": "NOASSERTION",
      "externalRefs": [{
        "referenceCategory": "PACKAGE-MANAGER",
        "referenceType": "purl",
        "referenceLocator": "$purl"
      }]
    }
END
  done
  cat <<END
  ],
  "hasExtractedLicensingInfos": [{
    "licenseId": "LicenseRef-none-chosen",
    "name": "none chosen",
    "extractedText": "The owner of pidrecord has not chosen a license for its own files yet."
  }],
  "relationships": [
    {
      "spdxElementId": "SPDXRef-DOCUMENT",
      "relationshipType": "DESCRIBES",
      "relatedSpdxElement": "SPDXRef-pidrecord"
    }
END
  for i in "${!pkgs[@]}"; do
    cat <<END
    ,{
      "spdxElementId": "SPDXRef-deb-${pkgs[i]}",
      "relationshipType": "STATIC_LINK",
      "relatedSpdxElement": "SPDXRef-pidrecord"
    }
END
  done
  printf '  ]\n}\n'
}
