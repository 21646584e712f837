#!/usr/bin/env python3
"""Gathers short real phrases in every language of the language model, the
kind of text song titles, artists and albums are, from what Debian ships:

  - the country, language, currency and script names of iso-codes, in every
    language it is translated into;
  - the short messages of the translation catalogs under /usr/share/locale
    (menu items, labels, names), read straight from the .mo files;
  - the translated names of desktop entries (Name[xx]=);
  - short lines of the fortune cookies (fortunes-zh holds Tang poems and
    Song lyrics; fortunes-ru, -cs, -pl, -de, -es, -it, -bg);
  - a few real song titles, artists and albums (REAL_TITLES below).

    bash tools/make-phrase-set.sh   (installs the packages, runs this)

Each phrase falls by a hash of its text into one of ten buckets: 0-5 may
train the double-byte models (tools/make-language-model.py reads
tests/data/phrases-train.txt), 6-7 are the development set
(tests/data/phrases-dev.txt, for tuning) and 8-9 the test set
(tests/data/phrases-test.txt, only for measuring). No phrase trains and
tests. Lines are "language<TAB>phrase", at most PER_LANGUAGE phrases per
language and set.
"""
import collections
import gettext
import glob
import os
import re
import struct
import sys
import unicodedata
import zlib

# Model language -> the locale folders that hold its text.
LOCALES = {
    "ru": ["ru"], "uk": ["uk"], "bg": ["bg"], "be": ["be"], "pl": ["pl"], "cs": ["cs"],
    "sk": ["sk"], "hu": ["hu"], "sl": ["sl"], "hr": ["hr"], "ro": ["ro"], "el": ["el"],
    "tr": ["tr"], "he": ["he"], "ar": ["ar"], "lt": ["lt"], "lv": ["lv"], "vi": ["vi"],
    "th": ["th"], "ko": ["ko"], "ja": ["ja"], "zh": ["zh_CN", "zh_SG"],
    "zh_TW": ["zh_TW", "zh_HK"], "de": ["de"], "fr": ["fr"], "es": ["es"], "it": ["it"],
    "pt": ["pt", "pt_BR"], "nl": ["nl"], "sv": ["sv"], "da": ["da"], "nb": ["nb", "no"],
    "ca": ["ca"], "is": ["is"], "et": ["et"], "fo": ["fo"], "gl": ["gl"], "eu": ["eu"],
    "af": ["af"],
}
PAGES = {
    "ru": 1251, "uk": 1251, "bg": 1251, "be": 1251, "pl": 1250, "cs": 1250, "sk": 1250,
    "hu": 1250, "sl": 1250, "hr": 1250, "ro": 1250, "el": 1253, "tr": 1254, "he": 1255,
    "ar": 1256, "lt": 1257, "lv": 1257, "vi": 1258, "th": 874, "ko": 949, "ja": 932,
    "zh": 936, "zh_TW": 950,
}
FORTUNES = {"zh": ["tang300.u8", "song100.u8", "chinese.u8"], "ru": ["ru/*"], "bg": ["bg/*"],
            "cs": ["cs/*.u8"], "sk": ["sk/*"], "pl": ["pl/*"], "de": ["de/*"], "es": ["es/*"],
            "it": ["it/*"]}
# Songs people have in their libraries, as their tags name them.
REAL_TITLES = {
    "zh": ["七里香", "周杰伦", "晴天", "叶惠美", "稻香", "魔杰座", "夜曲", "十一月的萧邦",
           "甜蜜蜜", "邓丽君", "小城故事", "月亮代表我的心", "后来", "刘若英", "童话", "光良",
           "老鼠爱大米", "十年", "陈奕迅", "红豆", "王菲", "传奇", "李健", "青花瓷",
           "小幸运", "田馥甄", "演员", "薛之谦", "平凡之路", "朴树", "南山南", "成都", "赵雷"],
    "zh_TW": ["月亮代表我的心", "鄧麗君", "甜蜜蜜", "小城故事", "周杰倫", "晴天", "稻香",
              "七里香", "張學友", "吻別", "五月天", "倔強", "蔡依林", "日不落", "王菲", "紅豆"],
    "ja": ["涙そうそう", "夏川りみ", "歌さがし", "島唄", "思春期", "千の風になって",
           "秋川雅史", "津軽海峡・冬景色", "石川さゆり", "演歌", "上を向いて歩こう",
           "坂本九", "川の流れのように", "美空ひばり", "恋するフォーチュンクッキー",
           "世界に一つだけの花", "赤いスイートピー", "松田聖子", "桜坂", "福山雅治",
           "残酷な天使のテーゼ", "高橋洋子", "時の流れに身をまかせ", "中島みゆき", "糸"],
    "ko": ["아리랑", "강남스타일", "싸이", "소녀시대", "사랑의 미로", "눈의 꽃", "박효신",
           "벚꽃 엔딩", "버스커 버스커", "좋은 날", "아이유", "총맞은 것처럼", "백지영"],
    "ru": ["Группа крови", "Кино", "Звезда по имени Солнце", "Пачка сигарет", "Кукушка",
           "Владимирский централ", "Михаил Круг", "Миллион алых роз", "Алла Пугачёва",
           "Подмосковные вечера", "Катюша", "Смуглянка", "Машина времени", "Поворот",
           "Ласковый май", "Белые розы", "Ария", "Беспечный ангел", "ДДТ", "Осень",
           "Что такое осень", "Чиж & Co", "Любэ", "Конь", "Сплин", "Выхода нет"],
    "uk": ["Червона рута", "Океан Ельзи", "Обійми", "Вставай", "Віддам", "Твій формат",
           "Ой у лузі червона калина", "Стефанія", "Kalush Orchestra", "Так ніхто не кохав",
           "Скрябін", "Кузьма", "Плакала", "Руслана", "Дикі танці"],
    "pl": ["Przeżyj to sam", "Lombard", "Jolka, Jolka pamiętasz", "Budka Suflera",
           "Dziwny jest ten świat", "Czesław Niemen", "Męskie granie", "Kocham cię, kochanie moje",
           "Wehikuł czasu", "Dżem", "Autobiografia", "Perfect", "Chałupy welcome to"],
    "cs": ["Jožin z bažin", "Ivan Mládek", "Holubí dům", "Jiří Schelinger", "Modlitba pro Martu",
           "Marta Kubišová", "Láska na vsi", "Karel Gott", "Lady Karneval", "Včelka Mája"],
    "hu": ["Gyöngyhajú lány", "Omega", "Szomorú vasárnap", "Az a szép, az a szép", "Kőbánya"],
    "el": ["Τα παιδιά του Πειραιά", "Μάνος Χατζιδάκις", "Συννεφιασμένη Κυριακή",
           "Βασίλης Τσιτσάνης", "Ζορμπάς", "Άρνηση", "Μίκης Θεοδωράκης", "Φραγκοσυριανή"],
    "tr": ["Şımarık", "Tarkan", "Gülpembe", "Barış Manço", "Dön bebeğim", "Sezen Aksu",
           "Kuzu kuzu", "Hoşgeldin", "Ağlama Anne"],
    "de": ["Über den Wolken", "Reinhard Mey", "Männer", "Herbert Grönemeyer", "Schön ist es",
           "Die Ärzte", "Für Elise", "Große Freiheit", "Atemlos durch die Nacht"],
    "fr": ["Ça plane pour moi", "Plastic Bertrand", "Je ne regrette rien", "Édith Piaf",
           "La Bohème", "Là-bas", "Où es-tu", "Mylène Farmer", "Désenchantée"],
    "es": ["Bésame mucho", "La Bamba", "Corazón espinado", "Maná", "Canción del mariachi",
           "Despacito", "Ojalá", "Señorita", "Café Tacvba"],
}
PER_LANGUAGE = 400  # phrases kept per language and set
MAX_CHARACTERS = 40
MAX_WORDS = 6

FORMAT = re.compile(r"%|\$|\{|\}|<|>|\\|\||@|https?:|\.\w{2,4}$|[=\[\]#*^~`]")


def codec(page):
    return {932: "cp932", 936: "gbk", 949: "cp949", 950: "cp950", 874: "cp874"}.get(
        page, "cp%d" % page)


def storable(language, phrase):
    page = PAGES.get(language, 1252)
    try:
        phrase.encode(codec(page) if page != 1252 else "latin-1")
        return True
    except UnicodeEncodeError:
        return False


def clean(text):
    """A phrase as a title would be, or None."""
    text = unicodedata.normalize("NFC", text.replace("_", "").replace("&&", "&")).strip()
    text = re.sub(r"\s*\(&\w\)$|&(?=\w)", "", text)  # menu accelerators
    text = text.strip(" .:;,…。，、？！?!")
    if not text or "\n" in text or FORMAT.search(text):
        return None
    if len(text) > MAX_CHARACTERS or len(text.split()) > MAX_WORDS:
        return None
    if all(ord(c) < 0x80 for c in text):  # every page reads ASCII the same
        return None
    if any(unicodedata.category(c).startswith("C") or 0x2500 <= ord(c) <= 0x25FF for c in text):
        return None
    if is_mojibake(text) or re.search(r"(?i)\bspec", text):  # file-format jargon
        return None
    return text


def is_mojibake(text):
    """True for a phrase that is itself UTF-8 read as Latin-1 ("BrÃ¶nte"),
    as a few catalogs hold: its right reading is another text."""
    try:
        inner = text.encode("cp1252").decode("utf-8")
    except (UnicodeEncodeError, UnicodeDecodeError):
        return False
    return inner != text


def read_mo(path):
    try:
        with open(path, "rb") as f:
            catalog = gettext.GNUTranslations(f)
    except (OSError, struct.error, UnicodeDecodeError, gettext.error if hasattr(gettext, "error")
            else Exception):
        return []
    except Exception:
        return []
    texts = []
    for key, value in catalog._catalog.items():
        if isinstance(key, tuple) or not key or not isinstance(value, str):
            continue
        texts.append(value)
    return texts


def from_catalogs(folders):
    texts = []
    for folder in folders:
        for path in sorted(glob.glob("/usr/share/locale/%s/LC_MESSAGES/*.mo" % folder)):
            texts.extend(read_mo(path))
    return texts


def from_desktop_entries(folders):
    texts = []
    keys = tuple("Name[%s]=" % f for f in folders) + tuple(
        "GenericName[%s]=" % f for f in folders)
    for path in sorted(glob.glob("/usr/share/applications/*.desktop")):
        with open(path, encoding="utf-8", errors="ignore") as f:
            texts.extend(line.split("=", 1)[1].strip() for line in f if line.startswith(keys))
    return texts


def from_fortunes(patterns):
    texts = []
    for pattern in patterns:
        for path in sorted(glob.glob("/usr/share/games/fortunes/" + pattern)):
            if path.endswith(".dat") or os.path.isdir(path):
                continue
            with open(path, "rb") as f:
                raw = f.read()
            for encoding in ("utf-8", "koi8-r", "cp1251", "iso8859-2"):
                try:
                    text = raw.decode(encoding)
                    break
                except UnicodeDecodeError:
                    continue
            else:
                continue
            text = re.sub(r"\x1b\[[0-9;]*m", "", text)
            # Lines, cut at the punctuation that ends a clause.
            for line in text.splitlines():
                texts.extend(re.split(r"[，。？！；：、,.?!;:\"«»()（）《》“”]+", line))
    return texts


def bucket(phrase):
    return zlib.crc32(phrase.encode("utf-8")) % 10


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    sets = {"train": [], "dev": [], "test": []}
    for language, folders in LOCALES.items():
        raw = (REAL_TITLES.get(language, []) + from_fortunes(FORTUNES.get(language, [])) +
               from_desktop_entries(folders) + from_catalogs(folders))
        seen = set()
        phrases = []
        for text in raw:
            phrase = clean(text)
            if phrase and phrase not in seen and storable(language, phrase):
                seen.add(phrase)
                phrases.append(phrase)
        chosen = collections.defaultdict(list)
        for phrase in phrases:
            b = bucket(phrase)
            chosen["train" if b < 6 else "dev" if b < 8 else "test"].append(phrase)
        for name, kept in chosen.items():
            # The real titles first, then a spread of the rest by hash.
            real = [p for p in kept if p in REAL_TITLES.get(language, [])]
            rest = sorted((p for p in kept if p not in real),
                          key=lambda p: zlib.crc32(("pick" + p).encode("utf-8")))
            limit = None if name == "train" else PER_LANGUAGE
            sets[name].extend((language, p) for p in (real + rest)[:limit])
        print("%s: %d phrases" % (language, len(phrases)), file=sys.stderr)
    for name, entries in sets.items():
        with open(os.path.join(root, "tests", "data", "phrases-%s.txt" % name), "w",
                  encoding="utf-8") as f:
            f.write("".join("%s\t%s\n" % entry for entry in entries))


if __name__ == "__main__":
    main()
