"""How one text is stored wrongly (or rightly) in an ID3v2 frame, and back.

A form names the ID3v2 text encoding a frame is written with and the way the
text a user expects became the characters mutagen reads from it. `store`
makes those characters from the expected text; `recover` undoes it, which is
what a perfect repair would give back.

Pages are Python codec names of the Windows code pages (cp1251, cp932, ...).
"""

LATIN1, UTF16, UTF16BE, UTF8 = 0, 1, 2, 3


def _windows_cp1252_tables():
    """cp1252 as Windows reads it: the five bytes the page leaves undefined
    (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same value,
    so that every byte has a character and back."""
    decode = []
    for byte in range(256):
        try:
            decode.append(bytes([byte]).decode("cp1252"))
        except UnicodeDecodeError:
            decode.append(chr(byte))
    encode = {ch: byte for byte, ch in enumerate(decode)}
    return "".join(decode), encode


_CP1252_DECODE, _CP1252_ENCODE = _windows_cp1252_tables()


def cp1252_read(data):
    """Bytes read one by one as Windows cp1252."""
    return "".join(_CP1252_DECODE[b] for b in data)


def cp1252_bytes(text):
    """The bytes Windows cp1252 gives for text read by cp1252_read."""
    return bytes(_CP1252_ENCODE[ch] for ch in text)


def latin1_read(data):
    return data.decode("latin-1")


def latin1_bytes(text):
    return text.encode("latin-1")


def sign_extended_read(data):
    """Each byte at or above 0x80 sign-extended into a UTF-16 unit (0xCF
    becomes U+FFCF), as a program that widens a signed char does."""
    return "".join(chr(0xFF00 | b) if b >= 0x80 else chr(b) for b in data)


def sign_extended_bytes(text):
    out = bytearray()
    for ch in text:
        code = ord(ch)
        if code >= 0xFF80:
            out.append(code & 0xFF)
        elif code < 0x80:
            out.append(code)
        else:
            raise ValueError("not a sign-extended byte: U+%04X" % code)
    return bytes(out)


# form -> (ID3v2 encoding, where the bytes come from, how they were read)
# "page": the text in the album's code page; "utf8": its UTF-8 bytes;
# "utf8x2": UTF-8 bytes read as cp1252 and encoded as UTF-8 again;
# "right": stored as it is.
FORMS = {
    "legacy-latin1": (LATIN1, "page", "latin1"),
    "legacy-widened-latin1": (UTF16, "page", "latin1"),
    "legacy-widened-cp1252": (UTF16, "page", "cp1252"),
    "legacy-utf8-latin1": (UTF8, "page", "latin1"),
    "legacy-utf8-cp1252": (UTF8, "page", "cp1252"),
    "legacy-sign-extended": (UTF16, "page", "sign"),
    "utf8-in-latin1": (LATIN1, "utf8", "latin1"),
    "utf8-twice": (UTF8, "utf8", "cp1252"),
    "utf8-twice-in-latin1": (LATIN1, "utf8x2", "latin1"),
    "right-latin1": (LATIN1, "right", None),
    "right-utf16": (UTF16, "right", None),
    "right-utf8": (UTF8, "right", None),
}

_READERS = {
    "latin1": (latin1_read, latin1_bytes),
    "cp1252": (cp1252_read, cp1252_bytes),
    "sign": (sign_extended_read, sign_extended_bytes),
}


def encoding(form):
    return FORMS[form][0]


def is_right(form):
    return FORMS[form][1] == "right"


def _source_bytes(source, page, text):
    if source == "page":
        return text.encode(page)
    utf8 = text.encode("utf-8")
    if source == "utf8":
        return utf8
    return cp1252_read(utf8).encode("utf-8")


def _source_text(source, page, data):
    if source == "page":
        return data.decode(page)
    if source == "utf8x2":
        data = cp1252_bytes(data.decode("utf-8"))
    return data.decode("utf-8")


def store(form, page, text):
    """The characters a frame of this form holds for the expected text."""
    _, source, reading = FORMS[form]
    if source == "right":
        if FORMS[form][0] == LATIN1:
            text.encode("latin-1")  # a right Latin-1 frame must hold Latin-1
        return text
    read, _ = _READERS[reading]
    return read(_source_bytes(source, page, text))


def recover(form, page, stored):
    """The text a perfect repair reads from a frame of this form."""
    _, source, reading = FORMS[form]
    if source == "right":
        return stored
    _, back = _READERS[reading]
    return _source_text(source, page, back(stored))


def fits(form, page, text):
    """Whether text can be stored in this form and read back unchanged."""
    try:
        return recover(form, page, store(form, page, text)) == text
    except (UnicodeError, ValueError, KeyError):
        return False
