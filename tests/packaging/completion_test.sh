#!/usr/bin/env bash
# The bash completion of orvel-cli, asked as bash asks it: each case gives the
# words typed so far (the last one being completed) and the completions
# expected. The profile keys and the options are taken from `orvel-cli --help`,
# so the completion cannot fall behind the program.
# Usage: completion_test.sh COMPLETION_FILE ORVEL_CLI
set -uo pipefail
completion=$(realpath "$1")
cli=$(realpath "$2")
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1090
source "$completion"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/fotos"
touch "$scratch/bild.jpg"
cd "$scratch" || exit 1

# The completions for the words given, sorted, on one line.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _orvel_cli
  printf '%s\n' "${COMPREPLY[@]}" | sed 's#/$##' | sort | tr '\n' ' ' | sed 's/ $//'
}

help=$("$cli" --help)
profiles=$(printf '%s\n' "$help" | sed -n '/^Profile (--profile/,/^$/p' |
           awk 'NF >= 2 && $1 ~ /^[0-9]$/ { print $1; print $2 }' | sort | tr '\n' ' ' | sed 's/ $//')
failures=0
check() {  # expected, then the words
  local expected=$1
  shift
  local got
  got=$(complete_words "$@")
  if [[ "$got" != "$expected" ]]; then
    echo "FAIL: '$*' completed to '$got', expected '$expected'"
    failures=$((failures + 1))
  fi
}

check "--help --version analyze bench optimize status" orvel-cli ""
check "$profiles"                  orvel-cli optimize --profile ""
check "hoch"                       orvel-cli optimize --profile=ho
check "0 1 2"                      orvel-cli optimize --jobs 2 --mode ""
check "fotos"                      orvel-cli optimize --output ""
check "bild.jpg fotos"             orvel-cli optimize --output fotos ""
check "bild.jpg fotos"             orvel-cli optimize -- ""
check "--shard"                    orvel-cli bench fotos --sh
check "--help --version"           orvel-cli status -
check "bild.jpg fotos"             orvel-cli analyze ""
[[ -n "$profiles" ]] || { echo "FAIL: no profiles in orvel-cli --help"; failures=$((failures + 1)); }

# Every option the help text names is offered after the command it belongs to.
offered=" $(complete_words orvel-cli optimize -) $(complete_words orvel-cli bench -) "
for option in $(printf '%s\n' "$help" | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  if [[ "$offered" != *" $option "* ]]; then
    echo "FAIL: $option from orvel-cli --help is not completed"
    failures=$((failures + 1))
  fi
done
exit $((failures > 0))
