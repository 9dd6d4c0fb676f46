# One component of an SBOM: a Debian package linked into the program, read
# from its copyright file (the input, raw) with the license that file
# declares. Arguments: $name, $v, $arch, $n (its place among the components).
# Letters, digits, "." and "-" only, as an SPDX identifier allows.
def id: gsub("[^A-Za-z0-9.-]"; "-");
# The SPDX identifier of one of Debian's short license names, or null.
def spdx: ascii_downcase as $n
  | {"mit": "MIT", "expat": "MIT", "isc": "ISC", "zlib": "Zlib",
     "zpl-2.1": "ZPL-2.1", "apache-2.0": "Apache-2.0",
     "bsd-2-clause": "BSD-2-Clause", "bsd-3-clause": "BSD-3-Clause"}[$n]
    // ($n | capture("^(?<f>l?gpl)-(?<v>[0-9]+(\\.[0-9]+)?)(?<later>\\+?)$")
      | "\(.f | ascii_upcase)-\(.v)\(if .v | test("\\.") then "" else ".0" end)"
        + if .later == "+" then "-or-later" else "-only" end)
    // null;
# GCC's copyright files are prose, but say which license covers libgcc, the
# part of GCC that is linked in: the SBOM says where it read that.
. as $in
| "The following runtime libraries are licensed under the terms of the GNU General Public License (v3 or later) with version 3.1 of the GCC Runtime Library Exception (included in this file):" as $gcc
| "/usr/share/doc/\($name)/copyright" as $file
| [splits("\n[ \t]*\n")] as $paragraphs
# The names of the Files paragraphs' licenses, each once.
| [$paragraphs[] | select(startswith("Files:"))
   | capture("\nLicense:[ \t]*(?<l>[^\n]*)").l] | unique as $names
# Each name's text, from the paragraphs that give one, for a LicenseRef.
| def text($l): [$paragraphs[]
    | capture("(^|\n)License:[ \t]*(?<n>[^\n]*)\n(?<t>( [^\n]*(\n|$))+)")
    | select(.n == $l) | .t | rtrimstr("\n") | split("\n")
    | map(.[1:] | if . == "." then "" else . end) | join("\n")]
    | join("\n\n") | if . == "" then "See \($file)." else . end;
  (if $in | startswith("Format: ") | not then
     if $in | gsub("[ \n]+"; " ") | contains($gcc + " - libgcc ") then
       {expression: "GPL-3.0-or-later WITH GCC-exception-3.1", refs: [],
        comment: "\($file) is not machine-readable; it says: \($gcc) libgcc"}
     else {expression: "NOASSERTION", refs: []} end
   # "A and B" and "A or B" are mapped; mixed ones, exceptions and lists are
   # not.
   elif any($names[]; test(" with |,") or (test(" and ") and test(" or ")))
   then {expression: "NOASSERTION", refs: []}
   else [$names[] | {or: test(" or "), parts: [splits(" or | and ")
       | {name: ., id: (spdx // "LicenseRef-\($name)-\(.)" | id)}]}] as $terms
     | {expression: [$terms[] | . as $t | [$t.parts[].id]
         | if $t.or and length > 1 then "(\(join(" OR ")))" else .[] end]
         | unique | join(" AND "),
        refs: [$terms[].parts[] | select(.id | startswith("LicenseRef-"))]
          | unique_by(.id)
          | map({licenseId: .id, name, extractedText: text(.name)})}
   end) as $license
| {package: ({name: $name, SPDXID: "SPDXRef-deb-\($n)-\($name | id)",
    versionInfo: $v, downloadLocation: "NOASSERTION", filesAnalyzed: false,
    licenseConcluded: "NOASSERTION", licenseDeclared: $license.expression,
    copyrightText: "NOASSERTION",
    externalRefs: [{referenceCategory: "PACKAGE-MANAGER", referenceType: "purl",
      referenceLocator: "pkg:deb/debian/\($name | @uri)@\($v | @uri)?arch=\($arch)"}]}
    + if $license.comment then {licenseComments: $license.comment} else {} end),
   refs: $license.refs}
