# Reads the logs of `strace -ff -y -qq -s 0 -T` (one file a thread) of one
# run over the library below `root`, and prints key=value lines: the flushes
# and file operations of the run, and the opens and reads of each MP3 file,
# split into the files the run wrote (repaired) and the rest.
#
#   LC_ALL=C awk -v root=DIR -v skip=LIST [-v exts=mp3|flac|...] [-v perfile=1] \
#     -f syscalls.awk pass=1 LOGS... pass=2 LOGS...
#
# exts: the extensions of the music files counted, an alternation (default
# mp3). perfile=1 also prints a line a music file, tab-separated: "file PATH opens reads
# written-bytes copies copied-bytes repaired(0/1)", where written bytes are
# what write/pwrite calls put into it (or into the copy renamed over it) and
# copies its copy_file_range calls as the source, with the bytes they moved.
#
# root is the library folder as an absolute path; skip a file of paths below
# it, one a line, of the files that cannot be repaired (they are left out of
# "files that need nothing"). The first pass reads the renames only: a
# temporary file renamed over a song counts as that song, so the opens and
# reads of the copy route are charged to the file it repairs.

# The text of the quoted string that starts at s[from] (a '"'), still in
# strace's escaping; qend is set to the index after its closing quote.
function quoted(s, from,    i, c) {
  for (i = from + 1; i <= length(s); ++i) {
    c = substr(s, i, 1)
    if (c == "\\") { ++i; continue }
    if (c == "\"") break
  }
  qend = i + 1
  return substr(s, from + 1, i - from - 1)
}

# The path strace -y prints for the descriptor that starts the text s
# ("12</a/b>, ..."), without the " (deleted)" of a replaced file.
function fdpath(s,    i, p) {
  i = index(s, "<")
  if (i == 0) return ""
  p = substr(s, i + 1)
  i = index(p, ">, ")
  if (i == 0) i = index(p, ">)")
  if (i == 0) i = index(p, ">")
  p = substr(p, 1, i - 1)
  sub(/ \(deleted\)$/, "", p)
  return p
}

function join(dir, p) { return substr(p, 1, 1) == "/" ? p : dir "/" p }
function owner(p) { return (p in renamed) ? renamed[p] : p }
function below(p) { return substr(p, 1, length(root) + 1) == root "/" }
function music(p) { return tolower(p) ~ ("\\.(" exts ")$") }

# The two paths of a rename, rename(OLD, NEW) or renameat(DIRFD, OLD, DIRFD, NEW, ...).
function renamepaths(line, name,    args, a, b) {
  args = substr(line, length(name) + 2)
  if (name == "rename") {
    a = quoted(args, index(args, "\""))
    args = substr(args, qend)
    b = quoted(args, index(args, "\""))
    rfrom = a
    rto = b
    return
  }
  a = quoted(args, index(args, "\""))
  rfrom = join(fdpath(args), a)
  args = substr(args, qend + 2)
  b = quoted(args, index(args, "\""))
  rto = join(fdpath(args), b)
}

# The bytes of a path as strace escapes them (high bytes as octal).
function escaped(s,    out, i, c, k) {
  out = ""
  for (i = 1; i <= length(s); ++i) {
    c = substr(s, i, 1)
    k = index(high, c)
    if (k > 0) out = out sprintf("\\%03o", k + 127)
    else if (c == "\"" || c == "\\") out = out "\\" c
    else out = out c
  }
  return out
}

BEGIN {
  if (exts == "") exts = "mp3"
  high = ""
  for (k = 128; k < 256; ++k) high = high sprintf("%c", k)
  if (skip != "") {
    while ((getline line < skip) > 0) broken[root "/" escaped(line)] = 1
    close(skip)
  }
}

/^(\+\+\+|---)/ { next }

{
  if (!match($0, /^[a-z0-9_]+\(/)) next
  name = substr($0, 1, RLENGTH - 1)
  failed = index($0, ") = -1 ") > 0 || index($0, ") = ? ") > 0
}

pass == 1 {
  if (name ~ /^rename(at2?)?$/ && !failed) {
    renamepaths($0, name)
    renamed[rfrom] = rto
  }
  next
}

{
  line = $0
  if (match(line, / <[0-9]+\.[0-9]+>$/)) {
    took = substr(line, RSTART + 2, RLENGTH - 3) + 0
    line = substr(line, 1, RSTART - 1)
  } else {
    took = 0
  }
  seconds[name] += took
  calls[name]++
  if (failed) errors[name]++
  args = substr(line, length(name) + 2)
}

name == "open" || name == "openat" {
  directory = index(args, "O_DIRECTORY") > 0
  if (!failed && match(line, /\) = [0-9]+<.*>$/)) {
    p = substr(line, RSTART, RLENGTH)
    p = substr(p, index(p, "<") + 1)
    p = substr(p, 1, length(p) - 1)
    sub(/ \(deleted\)$/, "", p)
  } else {
    p = quoted(args, index(args, "\""))
    if (name == "openat") p = join(fdpath(args), p)
  }
  opens_all++
  if (failed) opens_all_failed++
  if (!below(p)) next
  if (directory) { dir_opens++; next }
  p = owner(p)
  lib_opens++
  opens[p]++
  if (failed) { lib_failed++; open_failed[p]++ }
  if (!failed && (index(args, "O_RDWR") || index(args, "O_WRONLY"))) written[p] = 1
  next
}

name == "read" || name == "pread64" {
  reads_all++
  p = fdpath(args)
  if (!below(p)) next
  p = owner(p)
  lib_reads++
  reads[p]++
  next
}

(name ~ /^(write|pwrite64|pwritev|pwritev2)$/) && !failed {
  p = fdpath(args)
  if (!below(p)) next
  p = owner(p)
  if (match(line, /\) = [0-9]+$/)) wbytes[p] += substr(line, RSTART + 4) + 0
  next
}

name == "copy_file_range" && !failed {
  p = fdpath(args)
  if (!below(p)) next
  p = owner(p)
  copies[p]++
  if (match(line, /\) = [0-9]+$/)) copied[p] += substr(line, RSTART + 4) + 0
  next
}

name ~ /^rename(at2?)?$/ && !failed {
  renamepaths(line, name)
  if (below(rto)) written[rto] = 1
}

END {
  for (p in opens) files[p] = 1
  for (p in reads) files[p] = 1
  for (p in files) {
    if (!music(p)) continue
    if (perfile)
      printf "file\t%s\t%d\t%d\t%d\t%d\t%d\t%d\n", p, opens[p], reads[p], wbytes[p], copies[p], copied[p], (p in written)
    if (p in written) {
      fixed++
      fixed_opens += opens[p]; fixed_reads += reads[p]; fixed_failed += open_failed[p]
      if (opens[p] > fixed_opens_max) fixed_opens_max = opens[p]
      if (reads[p] > fixed_reads_max) fixed_reads_max = reads[p]
    } else if (p in broken) {
      broken_seen++
    } else {
      other++
      other_opens += opens[p]; other_reads += reads[p]; other_failed += open_failed[p]
      if (opens[p] > other_opens_max) other_opens_max = opens[p]
      if (reads[p] > other_reads_max) other_reads_max = reads[p]
    }
  }
  n = 0
  for (p in broken) n++
  printf "fixed=%d fixed_opens=%d fixed_opens_max=%d fixed_failed=%d fixed_reads=%d fixed_reads_max=%d\n",
    fixed, fixed_opens, fixed_opens_max, fixed_failed, fixed_reads, fixed_reads_max
  printf "other=%d other_opens=%d other_opens_max=%d other_failed=%d other_reads=%d other_reads_max=%d broken=%d\n",
    other, other_opens, other_opens_max, other_failed, other_reads, other_reads_max, n
  printf "lib_opens=%d lib_failed=%d lib_reads=%d dir_opens=%d opens_all=%d opens_all_failed=%d reads_all=%d\n",
    lib_opens, lib_failed, lib_reads, dir_opens, opens_all, opens_all_failed, reads_all
  for (s in calls)
    printf "syscall %s %d %d %.6f\n", s, calls[s], errors[s], seconds[s]
}
