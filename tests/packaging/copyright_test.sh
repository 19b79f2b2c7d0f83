#!/usr/bin/env bash
# The package's copyright file as cmake/CopyrightFile.cmake writes it from
# resources/copyright.in and encoder source trees. The trees here are small
# stand-ins laid out like the real ones (the licence files where the real
# trees have them, with other sections around the wanted one). Each case
# checks that the file is valid DEP-5 (every licence named has exactly one
# stand-alone paragraph with text, continuation lines indented, empty ones as
# " ."), which texts it holds, and what it reports missing.
# Usage: copyright_test.sh SOURCE_DIR CMAKE
set -uo pipefail
source_dir=$1
cmake=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# --- stand-in trees ---------------------------------------------------------
t=$scratch/trees
mkdir -p "$t/jpegli" "$t/highway" "$t/mozjpeg/simd/nasm" "$t/turbo/simd/nasm"
printf 'Jpegli stand-in licence.\n\nClause with a semicolon; and [brackets].\n' >"$t/jpegli/LICENSE"
cat >"$t/highway/LICENSE" <<'EOF'
Dual-licensed.

----------
Apache License 2.0
----------

Apache stand-in text.

----------
BSD 3-Clause License
----------

Highway BSD stand-in.   

Second Highway clause.

----------
CC0 1.0 Universal
----------

CC0 stand-in text.
EOF
for tree in mozjpeg turbo; do
  cat >"$t/$tree/README.ijg" <<EOF
OVERVIEW
========

LEGAL ISSUES        listed in the roadmap, not the heading.

LEGAL ISSUES
============

IJG stand-in from $tree.


Second IJG paragraph.


REFERENCES
==========

Not a licence.
EOF
  cat >"$t/$tree/LICENSE.md" <<EOF
The Modified (3-clause) BSD License
===================================

Copyright (C) $tree authors.<br>
BSD stand-in from $tree.


Why Three Licenses?
===================

Not a licence.
EOF
  cat >"$t/$tree/simd/nasm/jsimdext.inc" <<EOF
;
; Copyright (C) $tree authors.
;
; This software is provided 'as-is', zlib stand-in from $tree.
;
;    Indented zlib line.
; 3. This notice may not be removed or altered from any source distribution.

; Not a licence.
EOF
done
mkdir -p "$t/reorganised/simd/nasm"
cp "$t/mozjpeg/README.ijg" "$t/reorganised/"
cp "$t/mozjpeg/simd/nasm/jsimdext.inc" "$t/reorganised/simd/nasm/"
printf 'Licences\n========\n\nSee elsewhere.\n' >"$t/reorganised/LICENSE.md"

# --- the file, written and checked -------------------------------------------
# write NAME EMBEDDED JPEGLI_TREE HIGHWAY_TREE LIBJPEG_TREES
write() {
  "$cmake" -DTEMPLATE="$source_dir/resources/copyright.in" -DOUTPUT="$scratch/$1" \
    -DMISSING="$scratch/$1.missing" -DORVEL_COPYRIGHT_JPEGLI="jpegli 0123456789ab" \
    -DORVEL_COPYRIGHT_MOZJPEG="MozJPEG 4.0.3" -DORVEL_COPYRIGHT_JPEGTRAN="MozJPEG 4.0.3" \
    -DEMBEDDED="$2" -DJPEGLI_TREE="$3" -DHIGHWAY_TREE="$4" -DLIBJPEG_TREES="$5" \
    -P "$source_dir/cmake/CopyrightFile.cmake" >"$scratch/$1.log" 2>&1 ||
    fail "$1: CopyrightFile.cmake failed: $(cat "$scratch/$1.log")"
}

# Prints what makes FILE invalid DEP-5; nothing when it is valid. With
# "partial", licences named without a paragraph are allowed (they are the
# missing ones, reported elsewhere).
dep5_problems() {
  awk -v partial="$2" '
    function names(expression, list,   n, i, parts) {
      n = split(expression, parts, / +(and|or) +|, */)
      for (i = 1; i <= n; i++) list[parts[i]] = 1
    }
    function close_paragraph() {
      if (kind == "files" && (!has["Copyright"] || !has["License"]))
        print "paragraph " count ": Files without Copyright or License"
      if (kind == "licence" && text_lines == 0) print "License " name ": no text"
      kind = ""; text_lines = 0; delete has
    }
    /^$/ { close_paragraph(); fresh = 1; next }
    /^[ \t]+$/ { print NR ": blank line that is not \" .\""; next }
    /^ / { text_lines++; if (fresh) print NR ": continuation opens a paragraph"; next }
    /^[A-Za-z-]+:/ {
      field = $0; sub(/:.*/, "", field); value = $0; sub(/^[^:]*: */, "", value)
      if (fresh) {
        count++; fresh = 0
        if (count == 1 && field != "Format") print "first paragraph lacks Format"
        if (field == "Files") kind = "files"
        if (field == "License") {
          kind = "licence"; name = value
          if (name in standalone) print "License " name ": two paragraphs"
          standalone[name] = 1
        }
      }
      has[field] = 1
      if (kind == "files" && field == "License") names(value, used)
      next
    }
    { print NR ": neither a field nor indented: " $0 }
    BEGIN { fresh = 1 }
    END {
      close_paragraph()
      for (n in used) if (!(n in standalone) && partial != "partial") print "no paragraph for " n
      for (n in standalone) if (!(n in used)) print "paragraph for " n " is not used"
    }' "$1"
}

# check NAME [partial]: valid DEP-5, and complete unless partial.
check_valid() {
  local problems
  problems=$(dep5_problems "$scratch/$1" "${2:-}")
  [[ -z "$problems" ]] || fail "$1: not valid DEP-5: $problems"
  if [[ "${2:-}" != partial && -e "$scratch/$1.missing" ]]; then
    fail "$1: reports missing texts: $(cat "$scratch/$1.missing")"
  fi
}
has() {  # NAME TEXT: the file holds the line TEXT
  grep -qxF -- "$2" "$scratch/$1" || fail "$1: lacks the line '$2'"
}
lacks() {  # NAME PATTERN: no line of the file matches PATTERN
  if grep -qE -- "$2" "$scratch/$1"; then fail "$1: has a line matching '$2'"; fi
}

all="$t/mozjpeg,$t/turbo"

# Everything embedded, every tree there: each text taken whole, or just its
# section or comment block.
write full cjpegli,cjpeg,jpegtran "$t/jpegli" "$t/highway" "$all"
check_valid full
has full " Clause with a semicolon; and [brackets]."
has full " Highway BSD stand-in."
has full " ."
has full " IJG stand-in from mozjpeg."
has full " Copyright (C) mozjpeg authors."
has full " This software is provided 'as-is', zlib stand-in from mozjpeg."
has full "    Indented zlib line."
has full "   jpegtran  MozJPEG 4.0.3"
lacks full "Apache stand-in|CC0|roadmap|REFERENCES|Not a licence|Why Three|<br>|^ ;| +$"
awk 'previous == " ." && $0 == " ." { found = 1 } { previous = $0 } END { exit !found }' \
  "$scratch/full" && fail "full: two empty text lines in a row"

# cjpegli given as a binary without its tree: reported, with the setting to name.
write no-jpegli cjpegli,cjpeg,jpegtran "" "$t/highway" "$all"
check_valid no-jpegli partial
grep -q "^BSD-3-clause-jpegli: .*ORVEL_JPEGLI_SOURCE_DIR" "$scratch/no-jpegli.missing" 2>/dev/null ||
  fail "no-jpegli: the missing jpegli text is not reported with its setting"
[[ $(wc -l <"$scratch/no-jpegli.missing" 2>/dev/null) == 1 ]] || fail "no-jpegli: more than jpegli missing"
[[ $(grep -c "^License: BSD-3-clause-jpegli$" "$scratch/no-jpegli") == 1 ]] ||
  fail "no-jpegli: a stand-alone BSD-3-clause-jpegli paragraph without a tree"

# Only MozJPEG's tools: jpegli's paragraphs and licences are left out.
write mozjpeg-only cjpeg,jpegtran "" "" "$t/mozjpeg"
check_valid mozjpeg-only
has mozjpeg-only "Files: embedded/cjpeg embedded/jpegtran"
lacks mozjpeg-only "embedded/cjpegli|^License: (Apache-2.0|BSD-3-clause-jpegli|BSD-3-clause-highway)"

# No MozJPEG tree: the libjpeg family's texts come from libjpeg-turbo's.
write turbo cjpegli,jpegtran "$t/jpegli" "$t/highway" ",$t/turbo"
check_valid turbo
has turbo " IJG stand-in from turbo."

# A tree whose licence file no longer has the section: reported, not guessed.
write reorganised jpegtran "" "" "$t/reorganised"
check_valid reorganised partial
grep -q "^BSD-3-clause-libjpeg-turbo: .*LICENSE.md has no text under" "$scratch/reorganised.missing" \
  2>/dev/null || fail "reorganised: the missing section is not reported"
has reorganised " IJG stand-in from mozjpeg."

exit $((failures > 0))
