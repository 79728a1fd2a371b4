#!/usr/bin/env bash
# The bash completion of fennick-cli (data/fennick-cli.bash), sourced into this shell and
# called the way bash calls it: each case gives the words of a command line, the cursor at the
# end of the last one, and the exact completions expected.
# Usage: completion_test.sh COMPLETION_FILE
set -uo pipefail
completion=$1
# shellcheck source=/dev/null
source "$completion" || { echo "FAIL: cannot source $completion"; exit 1; }
complete -p fennick-cli >/dev/null 2>&1 || { echo "FAIL: no completion registered for fennick-cli"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/sub folder" "$work/carddir"
touch "$work/card.img" "$work/card two.img" "$work/disk.e01"
cd "$work" || exit 1

failures=0
# The completions of the command line WORD... (cursor at the end), sorted, one a line.
completions() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _fennick_cli fennick-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort
}
# check EXPECTED WORD...: EXPECTED holds the completions, one a line, in C sort order.
check() {
  local expected=$1 got
  shift
  got=$(completions "$@")
  if [[ $got != "$expected" ]]; then
    printf 'FAIL: %q\n  expected: %s\n  got:      %s\n' "$*" "${expected//$'\n'/ | }" \
      "${got//$'\n'/ | }"
    failures=$((failures + 1))
  fi
}
lines() { printf '%s\n' "$@" | LC_ALL=C sort; }

selection=(--name --modified-from --modified-to --created-from --created-to --min-size --max-size
  --hide-overwritten --hide-temporary --record --sort --deep)
everywhere=(--lang --help --version)

# Commands, also after the options that may stand before them.
check "$(lines clean drives recover scan wipe)" fennick-cli ""
check "scan" fennick-cli sc
check "$(lines clean drives recover scan wipe)" fennick-cli --lang German ""
check "$(lines clean drives recover scan wipe)" fennick-cli --lang = German ""
check "--yes" fennick-cli --lang = 30000 wipe --y
check "$(lines --help --lang --version)" fennick-cli --
# Each command's options.
check "$(lines "${selection[@]}" --format --to --keep-folders --no-times --manifest "${everywhere[@]}")" \
  fennick-cli recover --
check "$(lines --manifest --max-size --min-size --modified-from --modified-to)" fennick-cli recover --m
check "$(lines "${selection[@]}" --format "${everywhere[@]}")" fennick-cli scan -
check "$(lines "${selection[@]}" --format --yes "${everywhere[@]}")" fennick-cli wipe --
check "$(lines --entries --free-space --help --lang --tips --version)" fennick-cli clean --
check "$(lines --format "${everywhere[@]}")" fennick-cli drives --
check "--to" fennick-cli --lang 20000 recover --t
# Option values: --format (bodyfile is scan's only), --sort, --lang; also after "=".
check "$(lines bodyfile json table tsv)" fennick-cli scan --format ""
check "$(lines json table tsv)" fennick-cli recover --format ""
check "$(lines json table tsv)" fennick-cli drives --format ""
check "tsv" fennick-cli scan --deep --format ts
check "json" fennick-cli scan --format = j
check "$(lines bodyfile json table tsv)" fennick-cli scan --format =
check "$(lines none name path status size created modified)" fennick-cli recover --sort ""
check "$(lines size status)" fennick-cli scan --sort s
check "$(lines 'Chinese\ \(Simplified\)' 'Chinese\ \(Traditional\)')" fennick-cli --lang chin
check "German" fennick-cli scan --lang ger
# Free-text values get nothing.
check "" fennick-cli scan --name ""
check "" fennick-cli recover --record C
# Paths: volumes are files and folders, --to a folder, --manifest a file or folder.
check "$(lines card.img "card two.img" carddir)" fennick-cli scan car
check "$(lines card.img "card two.img" carddir)" fennick-cli recover --to out car
check "disk.e01" fennick-cli drives di
check "$(lines carddir "sub folder")" fennick-cli recover --to ""
check "sub folder" fennick-cli recover --to s
check "$(lines card.img "card two.img" carddir)" fennick-cli recover --manifest car
check "$(lines card.img "card two.img" carddir)" fennick-cli clean --tips car
# Under /dev: block devices and folders, never other device files.
check "" fennick-cli scan /dev/nul
check "" fennick-cli scan /dev/tt
devices=()
for d in /dev/*; do [[ -b $d ]] && devices+=("$d"); done
if ((${#devices[@]})); then
  folders=()
  for d in /dev/*; do [[ -d $d ]] && folders+=("$d"); done
  check "$(lines "${devices[@]}" "${folders[@]}")" fennick-cli scan /dev/
  got=$(completions fennick-cli scan "")
  for d in "${devices[@]}" card.img "card two.img"; do
    grep -qxF -- "$d" <<<"$got" || {
      echo "FAIL: fennick-cli scan '' does not offer $d"
      failures=$((failures + 1))
    }
  done
else
  echo "no block devices in /dev: their completion is not checked"
fi

if ((failures)); then
  echo "$failures completion case(s) failed"
  exit 1
fi
echo "all completion cases pass"
