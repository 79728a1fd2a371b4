# Bash completion of fennick-cli: installed as
# /usr/share/bash-completion/completions/fennick-cli. Completes the commands, each command's
# options, the values of --format, --sort and --lang, folders after --to, files after
# --manifest, and volumes (files, folders and the /dev block devices). Needs nothing from the
# bash-completion package.

_fennick_cli_languages=(English German French Italian Spanish Greek Finnish Swedish Danish Dutch
  Russian Ukrainian Serbian Bulgarian Czech Slovak Hungarian Romanian Polish
  "Chinese (Simplified)" "Chinese (Traditional)" Japanese Afrikaans Portuguese Turkish Hebrew
  Arabic)

# Adds each line the command "$@" prints to COMPREPLY (names with spaces stay whole).
_fennick_cli_lines() {
  local line
  while IFS= read -r line; do
    COMPREPLY+=("$line")
  done < <("$@")
}

# Adds the words of $1 that start with $2 to COMPREPLY.
_fennick_cli_add() {
  _fennick_cli_lines compgen -W "$1" -- "$2"
}

# Adds the volumes starting with $1: files and folders; under /dev only block devices and
# folders (/dev/disk/by-label/...), not the other device files. An empty $1 or a beginning of
# "/dev/" also gets the block devices in /dev.
_fennick_cli_volumes() {
  local cur=$1 path
  compopt -o filenames 2>/dev/null
  while IFS= read -r path; do
    [[ $path == /dev/* && ! -b $path && ! -d $path ]] && continue
    COMPREPLY+=("$path")
  done < <(compgen -f -- "$cur")
  if [[ $cur != /dev/* && ( -z $cur || /dev/ == "$cur"* ) ]]; then
    for path in /dev/*; do
      [[ -b $path ]] && COMPREPLY+=("$path")
    done
  fi
}

_fennick_cli() {
  COMPREPLY=()
  local cur=${COMP_WORDS[COMP_CWORD]} prev="" last=$((COMP_CWORD - 1))
  ((last >= 0)) && prev=${COMP_WORDS[last]}
  # "--format=js" comes split at the "=" (COMP_WORDBREAKS): complete the value of the option.
  if [[ $cur == "=" && $prev == --* ]]; then
    cur=""
  elif [[ $prev == "=" ]] && ((last >= 1)); then
    last=$((last - 1))
    prev=${COMP_WORDS[last]}
  fi

  # The command is the first word that is not an option or the value of --lang.
  local command="" i word
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $word == --lang ]]; then
      [[ ${COMP_WORDS[i + 1]-} == "=" ]] && ((i++))  # --lang=NAME
      ((i++))
    elif [[ $word != -* && $word != "=" ]]; then
      command=$word
      break
    fi
  done

  local selection="--name --modified-from --modified-to --created-from --created-to --min-size
    --max-size --hide-overwritten --hide-temporary --record --sort --deep"
  local formats="table tsv json"
  [[ $command == scan ]] && formats+=" bodyfile"

  case $prev in
    --format)
      _fennick_cli_add "$formats" "$cur"
      return 0
      ;;
    --sort)
      _fennick_cli_add "none name path status size created modified" "$cur"
      return 0
      ;;
    --lang)
      local name
      for name in "${_fennick_cli_languages[@]}"; do
        [[ ${name,,} == "${cur,,}"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
      done
      return 0
      ;;
    --to)
      compopt -o filenames 2>/dev/null
      _fennick_cli_lines compgen -d -- "$cur"
      return 0
      ;;
    --manifest)
      compopt -o filenames 2>/dev/null
      _fennick_cli_lines compgen -f -- "$cur"
      return 0
      ;;
    --name | --modified-from | --modified-to | --created-from | --created-to | --min-size | \
      --max-size | --record)
      return 0  # free text: nothing to offer
      ;;
  esac

  if [[ -z $command ]]; then
    if [[ $cur == -* ]]; then
      _fennick_cli_add "--lang --help --version" "$cur"
    else
      _fennick_cli_add "drives scan recover wipe clean" "$cur"
    fi
    return 0
  fi

  local options
  case $command in
    drives) options="--format" ;;
    scan) options="$selection --format" ;;
    recover) options="$selection --format --to --keep-folders --no-times --manifest" ;;
    wipe) options="$selection --format --yes" ;;
    clean) options="--entries --tips --free-space" ;;
    *) return 0 ;;
  esac
  if [[ $cur == -* ]]; then
    _fennick_cli_add "$options --lang --help --version" "$cur"
  else
    _fennick_cli_volumes "$cur"
  fi
  return 0
}

complete -F _fennick_cli fennick-cli
