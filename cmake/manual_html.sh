#!/usr/bin/env bash
# The manual as one HTML page: mandoc's rendering, with the project's
# stylesheet written into its head so that the page stays one file.
# Usage: manual_html.sh MANDOC MANUAL STYLESHEET OS OUTFILE
set -euo pipefail
mandoc=$1 manual=$2 css=$3 os=$4 out=$5
"$mandoc" -T html "-Ios=$os" "$manual" | awk -v css="$css" '
  /^<\/head>$/ {
    print "  <style>"
    while ((getline line < css) > 0) print line
    print "  </style>"
  }
  { print }' >"$out"
