#!/usr/bin/env python3
"""Learns the per-language letter-pair model that `--codepage auto` scores
album text with, from the word lists of Debian's hunspell dictionaries and,
for Japanese and Chinese, the text of Debian's translated manual pages
(manpages-ja, manpages-zh).

    bash tools/make-language-model.sh   (installs the dictionaries, runs this)
    python3 tools/make-language-model.py /usr/share/hunspell

writes engine/text/language-model.inc and the held-out words
tests/data/heldout-dev.txt and tests/data/heldout-test.txt.

Every word of a dictionary (affix flags stripped), and every run of CJK
characters of a manual page, falls by a hash of its
text into one of ten buckets: buckets 0-7 train the model, bucket 8 is the
development set (tuning, bench/compare-detectors) and bucket 9 the test set
(the acceptance test). No word trains and tests.

Single-byte pages: each language gets a map from the 256 byte values of its
code page to symbols (the lower-case letters it uses, "another letter",
separators, punctuation, symbols, undefined bytes) and the cost in 1/8 bit
of every letter pair, -log2 P(next | previous), word edges included.
Double-byte pages: the cost of each of the most frequent characters.
"""
import collections
import math
import os
import re
import sys
import unicodedata
import zlib

# name, dictionary, code page, reads as Western (the "leave it" languages)
LANGUAGES = [
    ("ru", "ru_RU", 1251, False),
    ("uk", "uk_UA", 1251, False),
    ("bg", "bg_BG", 1251, False),
    ("be", "be_BY", 1251, False),
    ("pl", "pl_PL", 1250, False),
    ("cs", "cs_CZ", 1250, False),
    ("sk", "sk_SK", 1250, False),
    ("hu", "hu_HU", 1250, False),
    ("sl", "sl_SI", 1250, False),
    ("hr", "hr_HR", 1250, False),
    ("ro", "ro_RO", 1250, False),
    ("el", "el_GR", 1253, False),
    ("tr", "tr_TR", 1254, False),
    ("he", "he_IL", 1255, False),
    ("ar", "ar", 1256, False),
    ("lt", "lt_LT", 1257, False),
    ("lv", "lv_LV", 1257, False),
    ("vi", "vi_VN", 1258, False),
    ("th", "th_TH", 874, False),
    ("ko", "ko", 949, False),
    ("ja", "man:ja", 932, False),
    ("zh", "man:zh_CN", 936, False),
    ("zh_TW", "man:zh_TW", 950, False),
    ("de", "de_DE", 1252, True),
    ("fr", "fr", 1252, True),
    ("es", "es_ES", 1252, True),
    ("it", "it_IT", 1252, True),
    ("pt", "pt_PT", 1252, True),
    ("nl", "nl", 1252, True),
    ("sv", "sv_SE", 1252, True),
    ("da", "da_DK", 1252, True),
    ("nb", "nb_NO", 1252, True),
    ("ca", "ca", 1252, True),
    ("is", "is_IS", 1252, True),
    ("en", "en_US", 1252, True),
    ("et", "et_EE", 1252, True),
    ("fo", "fo_FO", 1252, True),
    ("gl", "gl_ES", 1252, True),
    ("eu", "eu_ES", 1252, True),
    ("af", "af_ZA", 1252, True),
]

DOUBLE_BYTE = {932, 936, 949, 950}
PHRASE_WEIGHT = 8  # each word of a real phrase counts as this many list words
HELD_OUT_PER_LANGUAGE = 250  # words kept per language and held-out set
DOUBLE_BYTE_CHARACTERS = 4000  # most frequent characters kept per language
MIN_LETTER_COUNT = 20
BACKOFF = 4  # weight of a symbol's own frequency in the pair estimates  # rarer letters count as "another letter"

# Byte symbols; letters follow from LETTER_BASE.
SEPARATOR, PUNCTUATION, SYMBOL, UNDEFINED, OTHER_LETTER = range(5)
LETTER_BASE = 5


def codec(page):
    return {932: "cp932", 936: "gbk", 949: "cp949", 950: "cp950"}.get(page, "cp%d" % page)


def is_cjk(c):
    o = ord(c)
    return (0x3040 <= o <= 0x30FF or 0x3400 <= o <= 0x4DBF or 0x4E00 <= o <= 0x9FFF or
            0xAC00 <= o <= 0xD7A3 or 0xF900 <= o <= 0xFAFF)


def read_manual_phrases(language):
    """Runs of CJK characters from Debian's translated manual pages."""
    import gzip
    phrases = []
    root = os.path.join("/usr/share/man", language)
    for folder, _, files in sorted(os.walk(root)):
        for name in sorted(files):
            path = os.path.join(folder, name)
            opener = gzip.open if name.endswith(".gz") else open
            try:
                with opener(path, "rb") as f:
                    text = f.read().decode("utf-8", errors="ignore")
            except OSError:
                continue
            run = ""
            for c in text + " ":
                if is_cjk(c):
                    run += c
                    continue
                if len(run) >= 2:
                    phrases.append(run)
                run = ""
    return phrases


def read_phrase_words(language):
    """Words of the phrase set's training half (tests/data/phrases-train.txt,
    made by tools/make-phrase-set.py): real short text, single letters
    included, as titles use them. CJK phrases stay whole."""
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = os.path.join(root, "tests", "data", "phrases-train.txt")
    words = []
    if not os.path.exists(path):
        return words
    with open(path, encoding="utf-8") as f:
        for line in f:
            name, _, phrase = line.rstrip("\n").partition("\t")
            if name != language:
                continue
            if any(is_cjk(c) for c in phrase):
                words.extend(r for r in re.split(r"[^\w]+", phrase) if r)
                continue
            for word in re.split(r"[^\w]+", phrase):
                word = unicodedata.normalize("NFC", word)
                if word and all(c.isalpha() for c in word):
                    words.append(word)
    return words


def read_words(folder, dictionary):
    if dictionary.startswith("man:"):
        return read_manual_phrases(dictionary[4:])
    aff = os.path.join(folder, dictionary + ".aff")
    encoding = "utf-8"
    with open(aff, "rb") as f:
        for line in f:
            if line.startswith(b"SET"):
                encoding = line.split()[1].decode().lower().replace("iso8859", "iso8859_")
                encoding = encoding.replace("iso8859__", "iso8859_")
                break
    words = []
    with open(os.path.join(folder, dictionary + ".dic"), "rb") as f:
        f.readline()  # the word count
        for raw in f:
            text = raw.decode(encoding, errors="replace").strip()
            word = text.split("/")[0].split("\t")[0].split(" ")[0]
            word = unicodedata.normalize("NFC", word)
            if len(word) < 2 or any(not (c.isalpha() or unicodedata.category(c).startswith("M"))
                                    for c in word):
                continue
            words.append(word)
    return words


def to_page_text(word, page):
    """The word as the page writes it, or None when the page cannot."""
    if page == 1250:  # Romanian comma-below letters are cedilla letters there
        word = word.translate(str.maketrans("șțȘȚ", "şţŞŢ"))
    try:
        word.encode(codec(page))
        return word
    except UnicodeEncodeError:
        pass
    if page != 1258:
        return None
    # Vietnamese: cp1258 holds base letters with some accents and the tone
    # marks as combining characters.
    out = ""
    for c in unicodedata.normalize("NFD", word):
        if out and unicodedata.combining(c):
            joined = unicodedata.normalize("NFC", out[-1] + c)
            if len(joined) == 1:
                try:
                    joined.encode("cp1258")
                    out = out[:-1] + joined
                    continue
                except UnicodeEncodeError:
                    pass
        out += c
    try:
        out.encode("cp1258")
        return out
    except UnicodeEncodeError:
        return None


def bucket(word):
    return zlib.crc32(word.lower().encode("utf-8")) % 10


def lower(text):
    # The dotted capital I of Turkish is the small i; Python's own lower()
    # gives i and a combining dot, which no page holds as one byte.
    return text.replace("\u0130", "i").lower()


def byte_symbol(page, byte, alphabet):
    try:
        c = bytes([byte]).decode(codec(page))
    except UnicodeDecodeError:
        return UNDEFINED
    if byte < 0x80:
        small = c.lower()
        if small in alphabet:
            return LETTER_BASE + alphabet.index(small)
        return OTHER_LETTER if c.isalpha() else SEPARATOR
    category = unicodedata.category(c)
    if category.startswith("C"):
        return UNDEFINED
    small = lower(c)
    if len(small) == 1 and small in alphabet:
        return LETTER_BASE + alphabet.index(small)
    if category == "Mn" and page == 1256:
        # Harakat, which the word lists leave out and real Arabic titles
        # (poetry, hymns) have now and then: each costs what punctuation
        # costs. Hebrew titles hardly ever carry vowel points.
        return PUNCTUATION
    if category.startswith("L") or category.startswith("M"):
        return OTHER_LETTER
    if category.startswith("P") or category.startswith("Z"):
        return PUNCTUATION
    return SYMBOL


def cost(probability):
    return min(255, int(round(-math.log2(probability) * 8)))


def single_byte_model(name, page, western, words):
    counts = collections.Counter(c for w in words for c in w)
    alphabet = sorted(c for c, n in counts.items() if n >= MIN_LETTER_COUNT)
    # Matrix rows and columns: 0 the word edge, 1 another letter, 2.. letters.
    size = len(alphabet) + 2

    def index(c):
        return alphabet.index(c) + 2 if c in alphabet else 1

    pairs = [[0.0] * size for _ in range(size)]
    for w in words:
        symbols = [0] + [index(c) for c in w] + [0]
        for a, b in zip(symbols, symbols[1:]):
            pairs[a][b] += 1
    # Pairs seen rarely fall back on how often the next symbol occurs at all,
    # so that a letter the language hardly uses is costly before and after.
    unigram = [sum(pairs[a][b] for a in range(size)) + 0.5 for b in range(size)]
    unigram_total = sum(unigram)
    costs = []
    for a in range(size):
        row = sum(pairs[a])
        costs.extend(cost((pairs[a][b] + BACKOFF * unigram[b] / unigram_total) / (row + BACKOFF))
                     for b in range(size))
    byte_map = [byte_symbol(page, b, alphabet) for b in range(256)]
    # "Another letter" stands for every letter of the page the language does
    # not use: each of them is as rare as its share of that symbol says, so
    # a run of them never reads cheaply (a language's rare letters count
    # there too, and their pairs alone would make the run look common).
    others = max(1, sum(1 for b in range(0x80, 256) if byte_map[b] == OTHER_LETTER))
    floor = cost(unigram[1] / unigram_total / others)
    for a in range(size):
        costs[a * size + 1] = max(costs[a * size + 1], floor)
    return {"name": name, "page": page, "western": western, "alphabet": "".join(alphabet),
            "size": size, "map": byte_map, "costs": costs}


# The characters each double-byte standard ranks common: its first level of
# characters (and kana, Hangul and punctuation); then its second level; the
# rest is the vendors' extensions. Ranges of (lead, trail) codes, inclusive.
COMMON_RANGES = {
    936: [(0xA1A1, 0xA9FE), (0xB0A1, 0xD7FE)],
    950: [(0xA140, 0xA3BF), (0xA440, 0xC67E)],
    932: [(0x8140, 0x84BE), (0x889F, 0x9872)],
    949: [(0xA1A1, 0xACFE), (0xB0A1, 0xC8FE)],
}
SECOND_RANGES = {
    936: [(0xD8A1, 0xF7FE)],
    950: [(0xC940, 0xF9D5)],
    932: [(0x989F, 0xEAA4)],
    949: [(0xCAA1, 0xFDFE)],
}
# How the probability the kept characters leave is shared by the tiers.
TIER_SHARES = (0.85, 0.13, 0.02)


def tier(page, code):
    for t, ranges in enumerate((COMMON_RANGES[page], SECOND_RANGES[page])):
        for low, high in ranges:
            if page in (936, 949):  # rows of lead bytes by columns of trail bytes
                inside = (low >> 8 <= code >> 8 <= high >> 8 and
                          (low & 0xFF) <= (code & 0xFF) <= (high & 0xFF))
            else:  # one run of codes
                inside = low <= code <= high
            if inside:
                return t
    return 2


def double_byte_model(name, page, words):
    counts = collections.Counter()
    for w in words:
        for c in w:
            try:
                counts[c.encode(codec(page))] += 1
            except UnicodeEncodeError:
                pass
    counts = collections.Counter({k: n for k, n in counts.items() if len(k) == 2})
    total = sum(counts.values())
    kept = counts.most_common(DOUBLE_BYTE_CHARACTERS)
    kept_codes = set(int.from_bytes(k, "big") for k, _ in kept)
    covered = sum(n for _, n in kept)
    # The valid characters not kept share what the kept ones leave, by tier.
    left = [0, 0, 0]
    lead = []
    for b in range(256):
        kind = 0
        if b >= 0x80:
            try:
                bytes([b]).decode(codec(page))
                kind = 1
            except UnicodeDecodeError:
                trails = 0
                for t in range(0x40, 0xFF):
                    try:
                        bytes([b, t]).decode(codec(page))
                        trails += 1
                        code = b << 8 | t
                        if code not in kept_codes:
                            left[tier(page, code)] += 1
                    except UnicodeDecodeError:
                        pass
                kind = 2 if trails else 3
        lead.append(kind)
    # What a character never seen here is worth: at least what those seen
    # once are (Good and Turing's estimate), and for Chinese characters no
    # less than a twentieth, since real titles use many that no training
    # text has.
    seen_once = sum(1 for n in counts.values() if n == 1)
    # Hangul has a small stock of syllables, which a dictionary covers: there
    # the estimate alone holds.
    floor = 0.0 if page == 949 else 0.05
    rest_mass = max((total - covered) / total, seen_once / total, floor, 1 / total)
    rest = [cost(rest_mass * share / max(n, 1)) for share, n in zip(TIER_SHARES, left)]
    entries = sorted((int.from_bytes(k, "big"), cost(n / total)) for k, n in kept)
    return {"name": name, "page": page, "lead": lead, "entries": entries, "rest": rest}


def c_string(text):
    return "".join(c if c.isascii() and c.isprintable() and c not in "\\\"" else
                   "\\x%x" % ord(c) if ord(c) < 0x80 else "\\u%04x" % ord(c) for c in text)


def numbers(values, per_line=24):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append("    " + ",".join(str(v) for v in values[i:i + per_line]) + ",")
    return "\n".join(lines)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/hunspell"
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    single, double = [], []
    held_out = {8: [], 9: []}
    for name, dictionary, page, western in LANGUAGES:
        words = [t for t in (to_page_text(w, page) for w in read_words(folder, dictionary)) if t]
        train = [lower(w) for w in words if bucket(w) < 8]
        # Real phrases too, but none of the held-out words.
        # A word list holds each form once, however rare; the phrases are
        # running text, and weigh as much as they tell of it.
        train += PHRASE_WEIGHT * [lower(w) for w in (to_page_text(w, page)
                                                     for w in read_phrase_words(name))
                                  if w and bucket(w) < 8]
        for b in (8, 9):
            # Manual pages give phrases of any length; titles are short.
            chosen = sorted(set(w for w in words if bucket(w) == b and
                                (not dictionary.startswith("man:") or len(w) <= 8)),
                            key=lambda w: zlib.crc32(("pick" + w).encode("utf-8")))
            held_out[b].extend((name, w) for w in chosen[:HELD_OUT_PER_LANGUAGE])
        if page in DOUBLE_BYTE:
            double.append(double_byte_model(name, page, train))
        else:
            single.append(single_byte_model(name, page, western, train))
        print("%s: %d words, %d for training" % (name, len(words), len(train)), file=sys.stderr)

    out = ["// Generated by tools/make-language-model.py from Debian's hunspell",
           "// dictionaries and translated manual pages (see that tool); do not edit.", ""]
    for m in single:
        out.append("const unsigned char k%sMap[256] = {\n%s\n};" % (m["name"].title(),
                                                                    numbers(m["map"], 32)))
        out.append("const unsigned char k%sCosts[%d] = {\n%s\n};" % (
            m["name"].title(), len(m["costs"]), numbers(m["costs"])))
    out.append("const SingleByteModel kSingleByteModels[] = {")
    for m in single:
        out.append('    {"%s", %d, %s, %d, k%sMap, k%sCosts},' % (
            m["name"], m["page"], "true" if m["western"] else "false", m["size"],
            m["name"].title(), m["name"].title()))
    out.append("};")
    for m in double:
        out.append("const unsigned char k%sLead[256] = {\n%s\n};" % (m["name"].title(),
                                                                     numbers(m["lead"], 32)))
        out.append("const DoubleByteEntry k%sEntries[] = {\n%s\n};" % (
            m["name"].title(),
            "\n".join("    {0x%04x, %d}," % e for e in m["entries"])))
    out.append("const DoubleByteModel kDoubleByteModels[] = {")
    for m in double:
        out.append('    {"%s", %d, k%sLead, k%sEntries, %d, {%d, %d, %d}},' % (
            (m["name"], m["page"], m["name"].title(), m["name"].title(), len(m["entries"])) +
            tuple(m["rest"])))
    out.append("};")
    with open(os.path.join(root, "engine", "language-model.inc"), "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")
    for b, file in ((8, "heldout-dev.txt"), (9, "heldout-test.txt")):
        with open(os.path.join(root, "tests", "data", file), "w", encoding="utf-8") as f:
            f.write("".join("%s\t%s\n" % entry for entry in held_out[b]))


if __name__ == "__main__":
    main()
