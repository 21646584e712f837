# bash completion for songwright: options, their values, then files and
# folders. Needs nothing but bash itself.
_songwright() {
  local current=${COMP_WORDS[COMP_CWORD]}
  local previous=${COMP_WORDS[COMP_CWORD-1]}
  local options="-n --dry-run -c --codepage --album-codepage --id3v2-version -j --jobs -q --quiet -v --verbose
    --json --undo --list-runs --suggest --rename --no-journal -h --help -V --version --"
  local codepages="auto 874 1250 1251 1252 1253 1254 1255 1256 1257 1258 932 936 949 950"
  # Readline splits "--codepage=12" at the "=".
  if [ "$previous" = "=" ] && [ "$COMP_CWORD" -ge 2 ]; then
    previous=${COMP_WORDS[COMP_CWORD-2]}
  fi
  local word ended=""
  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
    [ "$word" = "--" ] && ended=1
  done

  COMPREPLY=()
  if [ -z "$ended" ]; then
    case $previous in
      -c | --codepage)
        mapfile -t COMPREPLY < <(compgen -W "$codepages" -- "$current")
        return
        ;;
      --id3v2-version)
        mapfile -t COMPREPLY < <(compgen -W "3 4" -- "$current")
        return
        ;;
      --undo)
        # The recorded runs, newest last.
        local runs
        runs=$(songwright --list-runs 2>/dev/null | awk '$1 ~ /^[0-9]/ && !/\(undone\)/ {print $1}')
        mapfile -t COMPREPLY < <(compgen -W "$runs" -- "$current")
        [ ${#COMPREPLY[@]} -gt 0 ] && return
        ;;
    esac
    case $current in
      --codepage=*)
        mapfile -t COMPREPLY < <(compgen -P "--codepage=" -W "$codepages" -- "${current#--codepage=}")
        return
        ;;
      -*)
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$current")
        return
        ;;
    esac
  fi
  # Paths: folders, and files (songs are usually named with .mp3).
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -- "$current")
}
complete -F _songwright songwright
