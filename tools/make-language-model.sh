#!/usr/bin/env bash
# Installs the hunspell dictionaries and translated manual pages the language
# model is learned from, and
# regenerates engine/text/language-model.inc, tests/data/heldout-dev.txt and
# tests/data/heldout-test.txt (about two minutes):
#   bash tools/make-language-model.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
packages=(hunspell-ru hunspell-uk hunspell-bg hunspell-be hunspell-pl hunspell-cs hunspell-sk
          hunspell-hu hunspell-sl hunspell-hr hunspell-ro hunspell-el hunspell-tr hunspell-he
          hunspell-ar hunspell-lt hunspell-lv hunspell-vi hunspell-th hunspell-ko hunspell-de-de
          hunspell-fr-classical hunspell-es hunspell-it hunspell-pt-pt hunspell-nl hunspell-sv
          hunspell-da hunspell-no hunspell-ca hunspell-is hunspell-en-us myspell-et myspell-fo
          hunspell-gl hunspell-eu hunspell-af manpages-ja manpages-zh
          python3)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" != 0 ]; then sudo=sudo; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
python3 "$root/tools/make-language-model.py" /usr/share/hunspell
