# Sourced by bench/run.sh for --library mixed: the mixed-format library
# (bench/mixed-library.py), the plan its floor repeats (bench/floor-formats.cc)
# and the table of the costs of each format from the traced runs.
#
#   mixed_packages          the Debian packages the generator needs, on stdout
#   mixed_stamp             what the library depends on (kept while it matches)
#   mixed_generate          makes $library, prints its summary
#   mixed_plan PLAN ARGS..  repairs a fresh copy with songwright ARGS (untimed)
#                           and writes the floor's plan of that repair to PLAN
#   mixed_formats NAME      prints the table of the traced run of NAME
#
# Uses run.sh's files, profile, seed, smoke, library, work, songwright,
# floor_formats, fresh_copy, trace[] and say.

mixed_exts="flac|ogg|opus|wav|aiff|m4a|wma|ape|wv|mp3"

mixed_packages() {
  command -v ffmpeg >/dev/null || echo ffmpeg
  /usr/bin/python3 -c 'import mutagen' 2>/dev/null || echo python3-mutagen
}

mixed_stamp() {
  printf 'files=%s profile=%s seed=%s smoke=%s generator=%s' "$files" "$profile" "$seed" "$smoke" \
    "$(cat bench/mixed-library.py bench/formats/*.py bench/shapes/*.py | md5sum | cut -c1-12)"
}

mixed_generate() {
  # The smoke run's songs are small: it proves the steps, not the figures.
  /usr/bin/python3 bench/mixed-library.py --files "$files" --profile "$profile" --seed "$seed" \
    $($smoke && echo --song-bytes 100000) "$library"
}

mixed_plan() {
  local plan=$1
  shift
  fresh_copy
  "$songwright" "$@" "$work" >/dev/null 2>&1 || true
  "$floor_formats" --plan-from "$library" "$work" "$plan"
}

# The per-file lines of a traced run (bench/syscalls.awk perfile=1) by
# format, FLAC split by whether its tagger left padding: files, repaired,
# opens and reads per repaired file (most in one), the repaired files whose
# audio was copied (copy_file_range) and the most bytes written into one.
# Then the verdict on FLAC files with padding: in place, nothing copied.
mixed_formats() {
  grep $'^file\t' <<<"${trace[$1]}" | LC_ALL=C awk -F'\t' -v bare="$(dirname "$library")/flac-without-padding.txt" \
    -v root="$work" '
    BEGIN { while ((getline line < bare) > 0) unpadded[root "/" line] = 1 }
    {
      f = tolower($2); sub(/.*\./, "", f)
      if (f == "flac") f = ($2 in unpadded) ? "flac, no padding" : "flac, padding"
      files[f]++
      if (!$8) { idle[f] += $3; next }
      fixed[f]++; opens[f] += $3; reads[f] += $4
      if ($3 > opensMax[f]) opensMax[f] = $3
      if ($4 > readsMax[f]) readsMax[f] = $4
      if ($6) copied[f]++
      if ($5 > writeMax[f]) writeMax[f] = $5
      if (f == "flac, padding" && ($6 || $5 > 65536)) moved++
    }
    END {
      printf "    %-17s %6s %9s %15s %15s %13s %13s %12s\n", "format", "files", "repaired",
        "opens/repaired", "reads/repaired", "audio copied", "most written", "opens/other"
      n = 0
      for (f in files) order[++n] = f
      for (i = 2; i <= n; ++i) for (j = i; j > 1 && order[j] < order[j - 1]; --j) {
        t = order[j]; order[j] = order[j - 1]; order[j - 1] = t
      }
      for (i = 1; i <= n; ++i) {
        f = order[i]; k = fixed[f] + 0; rest = files[f] - k
        printf "    %-17s %6d %9d %9.2f (%3d) %9.2f (%3d) %13d %13d %12.2f\n", f, files[f], k,
          k ? opens[f] / k : 0, opensMax[f], k ? reads[f] / k : 0, readsMax[f], copied[f],
          writeMax[f], rest ? idle[f] / rest : 0
      }
      printf "    FLAC with padding: %d repaired, %d with audio copied or more than 64 KB written: %s\n",
        fixed["flac, padding"], moved, moved ? "the padding was not used" : "all in place"
    }'
}
