#!/usr/bin/env bash
# Renders the manual page without warnings and checks that it carries the
# project's version.
#   check_manual.sh PAGE VERSION
set -euo pipefail
page=$1
version=$2
grep -q "^\.TH TESSARY 1 .*\"tessary $version\"" "$page" || { echo "manual page does not carry version $version"; exit 1; }
if ! command -v groff >/dev/null; then echo "groff not found: rendering not checked"; exit 0; fi
warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
for section in NAME SYNOPSIS DESCRIPTION "OUTPUT FORMAT" "EXIT STATUS" DIAGNOSTICS STRICTNESS EXAMPLES; do
  grep -q "^\.SH \"\?$section\"\?$" "$page" || { echo "missing section $section"; exit 1; }
done
