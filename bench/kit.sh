# The steps the library kits (bench/shapes/run.sh, bench/formats/run.sh)
# share, sourced by each after it sets its defaults: albums, seed, binary,
# show, keep, realworld, here (the kit's folder) and kit (its name). The kit
# then defines measure NAME DIR and calls kit_main.
shapes_kit=$(cd "$(dirname "${BASH_SOURCE[0]}")/shapes" && pwd)

# The options every kit takes, into the variables above.
kit_options() {
  while [ $# -gt 0 ]; do
    case $1 in
      --albums) albums=$2; shift 2 ;;
      --seed) seed=$2; shift 2 ;;
      --binary) binary=$2; shift 2 ;;
      --realworld) realworld=$2; shift 2 ;;
      --show) show=$2; shift 2 ;;
      --keep) keep=1; shift ;;
      *) usage ;;
    esac
  done
}

# Mutagen (installed when run as root), the program, and a temporary folder
# that goes at exit unless --keep.
kit_setup() {
  if ! /usr/bin/python3 -c 'import mutagen' 2>/dev/null; then
    if [ "$(id -u)" = 0 ]; then
      apt-get install -y -qq python3-mutagen >/dev/null
    else
      echo "run.sh: python3-mutagen is needed (apt-get install -y python3-mutagen)" >&2
      exit 2
    fi
  fi
  [ -x "$binary" ] || { echo "run.sh: no program at $binary (build it, or give --binary)" >&2; exit 2; }
  binary=$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/songwright-$kit.XXXXXX")
  if [ "$keep" = 1 ]; then
    trap 'echo "Kept $tmp"' EXIT
  else
    trap 'rm -rf "$tmp"' EXIT
  fi
  faults=0
}

fault() { echo "FAULT: $*"; faults=$((faults + 1)); }

# songwright NAME ARGS...: a run with the HOME and state folder of NAME (an
# undo that names the same NAME finds its run).
songwright() {
  local name=$1; shift
  mkdir -p "$tmp/$name.home" "$tmp/$name.state"
  HOME=$tmp/$name.home XDG_STATE_HOME=$tmp/$name.state timeout 600 "$binary" "$@"
}

# kit_preview NAME DIR ARGS...: checksums of DIR, then a preview with --json
# and ARGS: every line must be a JSON object, and nothing may be written.
kit_preview() {
  local name=$1 dir=$2 status=0
  shift 2
  "$shapes_kit/snapshot.py" "$dir" > "$tmp/$name.before.json"
  songwright "$name-preview" "$@" --json -n "$dir" > "$tmp/$name.preview.jsonl" \
    2> "$tmp/$name.preview.err" || status=$?
  [ $status -le 1 ] || fault "$name: the preview exited with status $status"
  "$shapes_kit/score.py" --json-check "$tmp/$name.preview.jsonl" | tail -n 4 ||
    fault "$name: the preview's --json output has lines that are not JSON objects"
  "$shapes_kit/snapshot.py" "$dir" > "$tmp/$name.after-preview.json"
  cmp -s "$tmp/$name.before.json" "$tmp/$name.after-preview.json" ||
    fault "$name: the preview changed files"
}

# kit_main TITLE: the generated library, then the real-world files (TITLE
# says what was done to them), then exit 1 when a step found a fault.
kit_main() {
  echo "songwright: $binary ($(songwright version --version 2>/dev/null | head -n 1)), $(git -C "$here/../.." rev-parse --short HEAD 2>/dev/null || echo '?')"
  echo
  echo "== Generated library: $albums albums, seed $seed"
  "$here/make-library.py" "$tmp/generated" --seed "$seed" --albums "$albums"
  measure generated "$tmp/generated"
  if [ "$realworld" != none ] && [ -d "$realworld" ]; then
    realworld=$(cd "$realworld" && pwd -P)
    echo
    echo "== Real-world files $1: $realworld, seed $seed"
    "$here/inject-realworld.py" "$realworld" "$tmp/realworld" --seed "$seed"
    measure realworld "$tmp/realworld"
  else
    echo
    echo "== No real-world files at $realworld: skipped"
  fi
  if [ "$faults" -gt 0 ]; then
    echo
    echo "$faults fault(s) found; see the FAULT lines above"
    exit 1
  fi
}
