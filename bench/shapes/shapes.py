"""The shapes of the library: what each album's text looks like on disk.

Each shape names how its albums' text is stored (the forms of forms.py, one
per album, taken in turn), the ID3v2 versions, the languages it cycles
through and its weight in a library of 200 albums. About 40% of the weight
is right text, which a repair must leave byte for byte.
"""
import words

# Languages of legacy pages, more Cyrillic than any other script.
LEGACY_CYCLE = ("ru", "pl", "el", "ja", "uk", "cs", "tr", "ko", "ru", "hu",
                "he", "zh-hans", "bg", "pl", "zh-hant", "ru", "uk", "cs", "bg", "ru")
# UTF-8 mistakes happen to every language, Western ones included.
UTF8_CYCLE = ("ru", "de", "el", "ja", "pl", "fr", "uk", "zh-hans", "cs", "es",
              "ko", "tr", "sv", "he", "bg", "pt", "hu", "zh-hant")
UNICODE_CYCLE = ("ru", "el", "ja", "uk", "zh-hans", "bg", "ko", "he", "pl", "zh-hant", "tr", "cs")

SHAPES = {
    "latin1-legacy": dict(weight=36, forms=("legacy-latin1",), versions=(3, 4), langs=LEGACY_CYCLE),
    "utf16-widened": dict(weight=16, forms=("legacy-widened-latin1", "legacy-widened-cp1252"),
                          versions=(3, 4), langs=LEGACY_CYCLE),
    "utf8-double-legacy": dict(weight=10, forms=("legacy-utf8-latin1", "legacy-utf8-cp1252"),
                               versions=(4,), langs=LEGACY_CYCLE),
    "utf8-double-utf8": dict(weight=8, forms=("utf8-twice",), versions=(4,), langs=UTF8_CYCLE),
    "latin1-utf8": dict(weight=10, forms=("utf8-in-latin1",), versions=(3, 4), langs=UTF8_CYCLE),
    "latin1-double-utf8": dict(weight=6, forms=("utf8-twice-in-latin1",), versions=(3, 4),
                               langs=UTF8_CYCLE),
    "utf16-sign-extended": dict(weight=8, forms=("legacy-sign-extended",), versions=(3, 4),
                                langs=LEGACY_CYCLE),
    "places": dict(weight=12, forms=("legacy-latin1",), versions=(3, 4), langs=("ru", "uk", "bg")),
    "compilation": dict(weight=7, forms=("legacy-latin1",), versions=(3, 4), langs=("ru",)),
    "two-pages": dict(weight=7, forms=("legacy-latin1",), versions=(3, 4),
                      langs=(("ru", "pl"), ("bg", "cs"), ("uk", "pl"), ("ru", "cs"), ("ru", "hu"))),
    "right-utf16-western": dict(weight=12, forms=("right-utf16",), versions=(3, 4), langs=words.WESTERN),
    "right-utf8-western": dict(weight=10, forms=("right-utf8",), versions=(4,), langs=words.WESTERN),
    "right-latin1-western": dict(weight=16, forms=("right-latin1",), versions=(3, 4),
                                 langs=words.WESTERN),
    "right-utf16-unicode": dict(weight=10, forms=("right-utf16",), versions=(3, 4), langs=UNICODE_CYCLE),
    "right-utf8-unicode": dict(weight=8, forms=("right-utf8",), versions=(4,), langs=UNICODE_CYCLE),
    "right-ascii": dict(weight=10, forms=("right-latin1",), versions=(3, 4), langs=("en",)),
    "right-punctuation": dict(weight=6, forms=("right-utf16",), versions=(3, 4), langs=("en",)),
    "right-itunes": dict(weight=8, forms=("right-latin1", "right-utf16"), versions=(3, 4),
                         langs=words.WESTERN + ("en",)),
}

WEIGHT_TOTAL = sum(s["weight"] for s in SHAPES.values())


def is_right_shape(name):
    return name.startswith("right-")


def album_counts(albums):
    """How many albums of each shape a library of `albums` albums holds:
    shares of the weights, every shape at least once when there is room."""
    names = list(SHAPES)
    exact = {n: SHAPES[n]["weight"] * albums / WEIGHT_TOTAL for n in names}
    counts = {n: int(exact[n]) for n in names}
    by_remainder = sorted(names, key=lambda n: exact[n] - counts[n], reverse=True)
    for name in by_remainder[:albums - sum(counts.values())]:
        counts[name] += 1
    if albums >= len(names):
        for name in names:
            if counts[name] == 0:
                donor = max(names, key=lambda n: counts[n])
                counts[donor] -= 1
                counts[name] += 1
    return counts


def album_setting(rng, name, index):
    """The form, ID3v2 version and language(s) of the index-th album of a
    shape: languages in turn, so that every one appears once there are
    enough albums, and form and version drawn for each album."""
    shape = SHAPES[name]
    langs = shape["langs"]
    return rng.choice(shape["forms"]), rng.choice(shape["versions"]), langs[index % len(langs)]


# ISO 639-2 codes for COMM, USLT, SYLT and TLAN.
LANGUAGE_CODES = {
    "ru": "rus", "uk": "ukr", "bg": "bul", "pl": "pol", "cs": "ces", "hu": "hun",
    "el": "ell", "tr": "tur", "he": "heb", "ja": "jpn", "zh-hans": "zho", "zh-hant": "zho",
    "ko": "kor", "de": "deu", "fr": "fra", "es": "spa", "pt": "por", "sv": "swe", "en": "eng",
}

VARIOUS_ARTISTS = {"ru": "Разные исполнители"}
