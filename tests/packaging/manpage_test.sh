#!/usr/bin/env bash
# The man pages: groff formats them without a warning, and the page of
# orvel-cli names every option that `orvel-cli --help` names.
# Usage: manpage_test.sh MAN_FOLDER ORVEL_CLI
set -uo pipefail
folder=$1
cli=$2
failures=0
for page in "$folder"/*.1; do
  warnings=$(LC_ALL=C.UTF-8 groff -man -K utf8 -ww -z -T utf8 "$page" 2>&1)
  if [[ -n "$warnings" ]]; then
    echo "FAIL: $page: $warnings"
    failures=$((failures + 1))
  fi
done
page=$(sed 's/\\-/-/g' "$folder/orvel-cli.1")
for option in $("$cli" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  if ! grep -q -- "$option\\b" <<<"$page"; then
    echo "FAIL: $option from orvel-cli --help is missing in orvel-cli.1"
    failures=$((failures + 1))
  fi
done
exit $((failures > 0))
