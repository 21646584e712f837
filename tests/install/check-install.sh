#!/usr/bin/env bash
# What a user gets from `cmake --install` and from the .deb:
#   check-install.sh install BUILD_DIR MAKE_LIBRARY
#     installs into a DESTDIR, runs the installed program on files and
#     folders, checks that the completions offer every option of --help and
#     that the man page renders without a warning and names every option;
#   check-install.sh deb BUILD_DIR MAKE_LIBRARY
#     makes the .deb, checks its content list, unpacks it and runs the
#     program from it, and runs lintian, which must report no error.
# Nothing is installed on the machine itself.
set -uo pipefail
mode=$1 build=$(cd "$2" && pwd) make_library=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_STATE_HOME=$work/state XDG_CONFIG_HOME=$work/config
mkdir -p "$HOME"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
need() {
  command -v "$1" >/dev/null || {
    echo "SKIPPED: $1 is not installed (scripts/install-deps.sh installs it)"
    exit 0
  }
}

# The long options --help lists: the completions and the page must offer each.
help_options() {
  "$1" --help | grep -o -- '--[a-z0-9][a-z0-9-]*' | sort -u
}

# The installed program repairs a file and a folder given together.
check_program() {
  local program=$1
  "$make_library" "$work/music" || fail "make_library failed"
  "$program" --version | grep -q '^songwright ' || fail "$program --version"
  local out
  out=$("$program" -n -c 1251 "$work/music/Kino/01 no padding.mp3" "$work/music/Mixed")
  [ $? = 0 ] || fail "a preview of a file and a folder did not exit 0"
  grep -q "^would fix	$work/music/Kino/01 no padding.mp3$" <<<"$out" ||
    fail "the preview does not name the file: $out"
  grep -q "^would fix	$work/music/Mixed/txxx.mp3$" <<<"$out" ||
    fail "the preview does not name a file of the folder: $out"
  out=$("$program" -q -c 1251 "$work/music/Kino" "$work/music/Mixed/v1 only.mp3")
  [ "$out" = "Successfully fixed 4 files" ] || fail "unexpected summary: $out"
  out=$("$program" -q -c 1251 "$work/music/Kino" "$work/music/Mixed/v1 only.mp3")
  [ "$out" = "No files needed fixing" ] || fail "the second run was not empty: $out"
  rm -rf "$work/music"
}

check_completion() {
  local root=$1 program=$2
  local bash_file=$root/usr/share/bash-completion/completions/songwright
  local zsh_file=$root/usr/share/zsh/vendor-completions/_songwright
  [ -f "$bash_file" ] || fail "no bash completion at $bash_file"
  [ -f "$zsh_file" ] || fail "no zsh completion at $zsh_file"
  # What bash offers after "songwright -", and for a code page.
  local offered
  offered=$(bash -c '
    source "$1" || exit 1
    complete -p songwright >/dev/null || exit 1
    COMP_WORDS=(songwright -); COMP_CWORD=1; _songwright
    printf "%s\n" "${COMPREPLY[@]}"
    COMP_WORDS=(songwright -c 125); COMP_CWORD=2; _songwright
    printf "page %s\n" "${COMPREPLY[@]}"' _ "$bash_file") || fail "bash completion did not load"
  for option in $(help_options "$program"); do
    grep -qx -- "$option" <<<"$offered" || fail "bash completion does not offer $option"
    grep -q -- "$option" "$zsh_file" || fail "zsh completion does not offer $option"
  done
  grep -qx "page 1251" <<<"$offered" || fail "bash completion does not offer code page 1251"
  if command -v zsh >/dev/null; then
    zsh -n "$zsh_file" || fail "zsh completion does not parse"
  else
    echo "zsh not installed: the zsh completion was not parsed"
  fi
}

check_man_page() {
  local page=$1 program=$2
  [ -f "$page" ] || {
    fail "no man page at $page"
    return
  }
  local text
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>"$work/man.err")
  [ -s "$work/man.err" ] && fail "man reports: $(cat "$work/man.err")"
  for section in SYNOPSIS OPTIONS "EXIT STATUS" FILES EXAMPLES "JSON OUTPUT"; do
    grep -q "^$section" <<<"$text" || fail "the man page has no $section"
  done
  for option in $(help_options "$program"); do
    grep -q -- "$option" <<<"$text" || fail "the man page does not name $option"
  done
}

case $mode in
  install)
    need man
    root=$work/root
    DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" ||
      fail "cmake --install failed: $(cat "$work/install.log")"
    program=$root/usr/bin/songwright
    [ -x "$program" ] || fail "no program at $program"
    for doc in README.md copyright changelog.gz; do
      [ -f "$root/usr/share/doc/songwright/$doc" ] || fail "no $doc in share/doc/songwright"
    done
    check_program "$program"
    check_completion "$root" "$program"
    check_man_page "$root/usr/share/man/man1/songwright.1.gz" "$program"
    ;;
  deb)
    need dpkg-deb
    need dpkg-shlibdeps
    (cd "$build" && cpack -G DEB -B "$work/packages" >"$work/cpack.log" 2>&1) ||
      fail "cpack failed: $(cat "$work/cpack.log")"
    deb=$(ls "$work"/packages/songwright_*_*.deb 2>/dev/null | head -n 1)
    if [ -z "$deb" ]; then
      fail "no .deb made"
    else
      contents=$(dpkg-deb -c "$deb")
      for path in ./usr/bin/songwright ./usr/share/man/man1/songwright.1.gz \
        ./usr/share/bash-completion/completions/songwright \
        ./usr/share/zsh/vendor-completions/_songwright ./usr/share/doc/songwright/copyright; do
        grep -q " $path\$" <<<"$contents" || fail "the .deb does not hold $path"
      done
      grep -q '^-rwxr-xr-x root/root .* ./usr/bin/songwright$' <<<"$contents" ||
        fail "the program is not root-owned 0755 in the .deb"
      depends=$(dpkg-deb -f "$deb" Depends)
      grep -q 'libtag1v5' <<<"$depends" || fail "Depends does not name TagLib: $depends"
      dpkg-deb -x "$deb" "$work/unpacked"
      check_program "$work/unpacked/usr/bin/songwright"
      if command -v lintian >/dev/null; then
        # Runs as root in CI, which lintian only warns about.
        lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 ||
          fail "lintian: $(cat "$work/lintian.log")"
        grep '^E:' "$work/lintian.log" && fail "lintian reports errors"
      else
        echo "lintian not installed: the .deb was not checked by it"
      fi
    fi
    ;;
  *)
    echo "usage: $0 install|deb BUILD_DIR MAKE_LIBRARY" >&2
    exit 2
    ;;
esac

[ "$failures" = 0 ] && echo "$mode: all checks passed"
exit $((failures > 0))
