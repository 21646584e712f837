"""Mixed folders: a compilation with a few right Western tracks among cp1251
ones, and a folder whose tracks are in two different pages."""
import album as al
import shapes
import words


def _western_track(rng, folder, number, count, western, version, year):
    """A right Western track of a compilation: its own artist and album,
    stored as right Latin-1."""
    title, lang = western
    w = words.WORDS[lang]
    file = al.new_file(folder, number, count, title, ("right-latin1", version, lang, "compilation", year))
    text = {"title": title, "artist": rng.choice(w["artists"]), "album": rng.choice(w["albums"]),
            "genre": rng.choice(w["genres"])}
    file["places"] = al.track_places(text, {})
    return file


MIXED_MINIMUM = 4  # tracks a mixed folder needs: two of each kind


def compilation(rng, number, index, tracks=None):
    """Mostly Russian tracks by various artists stored as cp1251 in Latin-1
    frames, and two or three Western tracks of other albums stored as right
    Latin-1, which must stay as they are."""
    form, version, lang = shapes.album_setting(rng, "compilation", index)
    w = words.WORDS[lang]
    count = tracks or rng.randint(6, 12)
    western = rng.sample(words.COMPILATION_WESTERN, rng.randint(2, min(3, count - 2)))
    at = dict(zip(sorted(rng.sample(range(1, count + 1), len(western))), western))
    titles = iter(rng.sample(w["titles"], count - len(western)))
    various, name = shapes.VARIOUS_ARTISTS[lang], rng.choice(w["albums"])
    folder = "%03d %s" % (number, al.safe_name(various + " - " + name))
    year, genre, files = rng.randint(1990, 2024), rng.choice(w["genres"]), []
    for n in range(1, count + 1):
        if n in at:
            files.append(_western_track(rng, folder, n, count, at[n], version, year))
            continue
        title = next(titles)
        file = al.new_file(folder, n, count, title, (form, version, lang, "compilation", year))
        text = {"title": title, "artist": rng.choice(w["artists"]), "album": name, "genre": genre}
        file["places"] = al.track_places(text, {"album_artist": various})
        files.append(file)
    return al.finish_album(folder, "compilation", version, words.PAGES[lang], files)


def two_pages(rng, number, index, tracks=None):
    """Tracks of a Cyrillic album in cp1251 and of a Central European one in
    cp1250 in one folder: each must be read through its own page."""
    form, version, (lang_a, lang_b) = shapes.album_setting(rng, "two-pages", index)
    count = tracks or rng.randint(6, 10)
    least = 3 if count >= 6 else 2
    first = rng.randint(least, count - least)
    texts = [(lang_a, al.album_text(rng, lang_a, first)),
             (lang_b, al.album_text(rng, lang_b, count - first))]
    order = [(lang, text, title) for lang, text in texts for title in text["titles"]]
    rng.shuffle(order)
    folder = "%03d %s" % (number, al.safe_name(texts[0][1]["album"] + " + " + texts[1][1]["album"]))
    year, files = rng.randint(1975, 2024), []
    for n, (lang, text, title) in enumerate(order, 1):
        file = al.new_file(folder, n, count, title, (form, version, lang, "two-pages", year))
        file["places"] = al.track_places(dict(text, title=title), {})
        files.append(file)
    page = words.PAGES[lang_a] + "+" + words.PAGES[lang_b]
    return al.finish_album(folder, "two-pages", version, page, files)


def make_album(rng, number, shape, index, tracks=None):
    """An album of a shape; `tracks` fixes its track count (at least
    MIXED_MINIMUM for compilation and two-pages)."""
    if shape == "compilation":
        return compilation(rng, number, index, tracks)
    if shape == "two-pages":
        return two_pages(rng, number, index, tracks)
    return al.plain_album(rng, number, shape, index, tracks)
