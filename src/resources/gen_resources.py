#!/usr/bin/env python3
"""Generates the stub's resources from strings.json, the one source of every user-visible text.

Usage: gen_resources.py strings.json OUTDIR

Writes into OUTDIR:
  string_table.inc  C++ initialiser rows {id, lang, L"..."}, for the portable string table.
                    Every character outside printable ASCII is written as an escape (\\uXXXX for
                    non-ASCII), so the file compiles to the same text whether wchar_t has 16 bits
                    (Windows) or 32 bits (Linux), whatever the compiler's source character set.
  strings.rc        Resource script fragment: per language one STRINGTABLE and the dialog
                    templates that exist in that language. It expects <windows.h> to be included
                    by the script that includes it and includes <commctrl.h> itself for the common
                    control styles. All texts are wide literals with \\xXXXX escapes, so the file
                    is plain ASCII and windres produces the same UTF-16 whatever code page it is
                    told to use.
  stub.ico          The application icon (16x16 and 32x32, 32 bits per pixel), drawn here.

Only the Python standard library is used, and the output depends on the input alone.
"""

import json
import os
import re
import struct
import sys


class InputError(Exception):
    pass


# ---------------------------------------------------------------------------------------------
# Reading and checking the input


def load(path):
    with open(path, encoding="utf-8") as f:
        doc = json.load(f)
    languages = doc.get("languages")
    if not isinstance(languages, list) or not languages:
        raise InputError("'languages' must be a non-empty list")
    keys = [lang["key"] for lang in languages]
    if len(set(keys)) != len(keys):
        raise InputError("duplicate language key")
    if keys[0] != "en":
        # English is the fallback of the platform's resource lookup; it is listed first.
        raise InputError("the first language must be 'en'")
    for lang in languages:
        if not isinstance(lang.get("langid"), int) or len(lang.get("rc_language", [])) != 2:
            raise InputError("language %r needs 'langid' and 'rc_language'" % lang.get("key"))

    strings = doc.get("strings")
    if not isinstance(strings, dict) or not strings:
        raise InputError("'strings' must be a non-empty object")
    for sid, entry in strings.items():
        if not sid.isdigit() or not 0 <= int(sid) <= 0xFFFF:
            raise InputError("string id %r is not a number from 0 to 65535" % sid)
        for key in keys:
            check_text(entry.get(key), "string %s (%s)" % (sid, key))
        unknown = set(entry) - set(keys) - {"note"}
        if unknown:
            raise InputError("string %s has unknown keys %s" % (sid, sorted(unknown)))

    dialogs = doc.get("dialogs", {})
    for did, dialog in dialogs.items():
        if not did.isdigit() or not 0 < int(did) <= 0xFFFF:
            raise InputError("dialog id %r is not a number from 1 to 65535" % did)
        where = "dialog " + did
        dialog_keys = dialog_languages(doc, dialog)
        if not set(dialog_keys) <= set(keys) or "en" not in dialog_keys:
            # A dialog missing in the user's language falls back to English, so English is
            # always there.
            raise InputError("%s: 'languages' must be known keys including 'en'" % where)
        check_symbols(dialog["style"], "%s style" % where)
        check_symbols(dialog.get("exstyle", []), "%s exstyle" % where)
        for key in dialog_keys:
            check_text(dialog["caption"].get(key), "%s caption (%s)" % (where, key))
            check_text(dialog["font"][key]["face"], "%s font (%s)" % (where, key))
            if len(dialog["size"][key]) != 2:
                raise InputError("%s size (%s) must be [width, height]" % (where, key))
        for i, control in enumerate(dialog["controls"]):
            what = "%s control %d" % (where, i)
            if control["kind"] not in CONTROL_KINDS:
                raise InputError("%s: unknown kind %r" % (what, control["kind"]))
            if control["kind"] == "control":
                if not CLASS_NAME.match(control.get("class", "")):
                    raise InputError("%s: 'class' must be a window class name" % what)
                check_symbols(control["style"], "%s style" % what)
            elif "class" in control or "style" in control:
                raise InputError("%s: only the kind 'control' takes 'class' and 'style'" % what)
            rects = [control["rect"]] + list(control.get("rect_by_language", {}).values())
            if any(len(r) != 4 for r in rects):
                raise InputError("%s: a rectangle needs four numbers" % what)
            if "text" in control:
                for key in dialog_keys:
                    check_text(control["text"].get(key), "%s (%s)" % (what, key))
    return doc


def dialog_languages(doc, dialog):
    """Keys of the languages a dialog exists in: its 'languages' list, else every language."""
    keys = [lang["key"] for lang in doc["languages"]]
    return dialog.get("languages", keys)


# A style is an OR of names from <windows.h> and <commctrl.h>; the names are written into the
# script as they are, so nothing but identifiers and plain numbers is accepted.
SYMBOL = re.compile(r"^(?:[A-Z][A-Z0-9_]*|0x[0-9A-Fa-f]{1,8}|[0-9]{1,10})$")
CLASS_NAME = re.compile(r"^[A-Za-z_][A-Za-z0-9_.]*$")


def check_symbols(symbols, where):
    if not isinstance(symbols, list) or not all(isinstance(s, str) and SYMBOL.match(s) for s in symbols):
        raise InputError("%s: must be a list of style names or numbers" % where)


def check_text(text, where):
    if not isinstance(text, str):
        raise InputError("%s: missing text" % where)
    for ch in text:
        cp = ord(ch)
        if cp == 0:
            raise InputError("%s: contains a NUL character" % where)
        if 0x80 <= cp < 0xA0:
            # No universal character name may name a C1 control character in C++.
            raise InputError("%s: contains the control character U+%04X" % (where, cp))
        if cp > 0xFFFF or 0xD800 <= cp <= 0xDFFF:
            # A 16-bit and a 32-bit wchar_t would hold such a character differently.
            raise InputError("%s: U+%04X is outside the Basic Multilingual Plane" % (where, cp))


def sorted_ids(mapping):
    return sorted(mapping, key=int)


# ---------------------------------------------------------------------------------------------
# C++ string table


def cpp_wide_literal(text):
    out = []
    for ch in text:
        cp = ord(ch)
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif ch == "?":
            # Keeps "??x" from ever being read as a trigraph.
            out.append("\\?")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\r":
            out.append("\\r")
        elif cp < 0x20 or cp == 0x7F:
            # Three octal digits: an octal escape never reads past them.
            out.append("\\%03o" % cp)
        elif cp < 0x80:
            out.append(ch)
        else:
            out.append("\\u%04X" % cp)
    return 'L"' + "".join(out) + '"'


def write_string_table_inc(doc, path):
    lines = [
        "// Generated by gen_resources.py from strings.json. Do not edit.",
        "// Rows of res::StringEntry: {id, language, text}.",
    ]
    for sid in sorted_ids(doc["strings"]):
        entry = doc["strings"][sid]
        for lang in doc["languages"]:
            lines.append("{%s, %d, %s}," % (sid, lang["langid"], cpp_wide_literal(entry[lang["key"]])))
    write_text(path, "\n".join(lines) + "\n")


# ---------------------------------------------------------------------------------------------
# Resource script


def rc_wide_literal(text):
    out = []
    for ch in text:
        cp = ord(ch)
        if ch == '"':
            # The resource compiler doubles a quote inside a string; it rejects \".
            out.append('""')
        elif ch == "\\":
            out.append("\\\\")
        elif 0x20 <= cp < 0x7F:
            out.append(ch)
        else:
            # Always four digits: the escape takes at most four, so a following letter that
            # happens to be a hexadecimal digit stays a letter.
            out.append("\\x%04x" % cp)
    return 'L"' + "".join(out) + '"'


# The predefined control classes, written as their atoms: windres stores a class given as a name
# ("Static") as that string, upper-cased, instead of the atom the dialog manager knows it by.
PREDEFINED_CLASS_ATOMS = {
    "button": 0x0080,
    "edit": 0x0081,
    "static": 0x0082,
    "listbox": 0x0083,
    "scrollbar": 0x0084,
    "combobox": 0x0085,
}


def rc_class(name):
    atom = PREDEFINED_CLASS_ATOMS.get(name.lower())
    if atom is not None:
        return "0x%04X" % atom
    # Any other class (the common controls) is stored by name. windres upper-cases it; class
    # names are compared without regard to case, so the control is created all the same.
    return '"%s"' % name


def rc_style(symbols):
    return " | ".join(symbols) if symbols else "0"


# kind -> function(control, text, id, rect) giving the control statement. The statements add
# WS_CHILD | WS_VISIBLE; the button and text statements also add their own defaults (tab stop
# for buttons, group start for LTEXT).
CONTROL_KINDS = {
    "defpushbutton": lambda c, text, cid, r: "DEFPUSHBUTTON %s, %d, %d, %d, %d, %d" % ((text, cid) + tuple(r)),
    "pushbutton": lambda c, text, cid, r: "PUSHBUTTON %s, %d, %d, %d, %d, %d" % ((text, cid) + tuple(r)),
    "static": lambda c, text, cid, r: "LTEXT %s, %d, %d, %d, %d, %d" % ((text, cid) + tuple(r)),
    # Any class with exactly the styles listed (besides WS_CHILD | WS_VISIBLE).
    "control": lambda c, text, cid, r: "CONTROL %s, %d, %s, %s, %d, %d, %d, %d"
    % ((text, cid, rc_class(c["class"]), rc_style(c["style"])) + tuple(r)),
}


def write_strings_rc(doc, path):
    out = [
        "// Generated by gen_resources.py from strings.json. Do not edit.",
        "// Included by the stub's resource script after <windows.h>. Plain ASCII: every other",
        "// character is a \\x escape inside a wide string.",
        "#include <commctrl.h>",
        "",
    ]
    for lang in doc["languages"]:
        key = lang["key"]
        primary, sub = lang["rc_language"]
        out.append("// ---- %s (%d)" % (key, lang["langid"]))
        out.append("LANGUAGE %s, %s" % (primary, sub))
        out.append("")
        out.append("STRINGTABLE")
        out.append("BEGIN")
        for sid in sorted_ids(doc["strings"]):
            out.append("  %s %s" % (sid, rc_wide_literal(doc["strings"][sid][key])))
        out.append("END")
        out.append("")
        for did in sorted_ids(doc.get("dialogs", {})):
            dialog = doc["dialogs"][did]
            if key not in dialog_languages(doc, dialog):
                continue
            width, height = dialog["size"][key]
            font = dialog["font"][key]
            out.append("%s DIALOGEX 0, 0, %d, %d" % (did, width, height))
            out.append("STYLE " + " | ".join(dialog["style"]))
            if dialog.get("exstyle"):
                out.append("EXSTYLE " + " | ".join(dialog["exstyle"]))
            out.append("CAPTION " + rc_wide_literal(dialog["caption"][key]))
            # Weight 0 (default), not italic, DEFAULT_CHARSET: the face name picks the script.
            out.append("FONT %d, %s, 0, 0, 1" % (font["points"], rc_wide_literal(font["face"])))
            out.append("BEGIN")
            for control in dialog["controls"]:
                rect = control.get("rect_by_language", {}).get(key, control["rect"])
                text = rc_wide_literal(control["text"][key]) if "text" in control else '""'
                out.append("  " + CONTROL_KINDS[control["kind"]](control, text, control.get("id", -1), rect))
            out.append("END")
            out.append("")
    # Resources that follow this fragment in the including script must not inherit the last
    # language above; put back the compiler's default.
    out.append("LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US")
    write_text(path, "\n".join(out) + "\n")


# ---------------------------------------------------------------------------------------------
# Icon: a closed cardboard box with a strip of tape, seen from the front, on a transparent
# background. Drawn on a 32x32 grid and scaled for 16x16.

BOX_DARK = (0x6B, 0x45, 0x1E)
BOX_FRONT = (0xC8, 0x8F, 0x4E)
BOX_TOP = (0xE0, 0xAE, 0x6E)
TAPE = (0xF2, 0xE4, 0xB8)
LABEL = (0xFF, 0xFF, 0xFF)
LABEL_LINE = (0x3A, 0x5F, 0xA8)


def icon_pixel(x, y, size):
    """Colour (r, g, b) or None (transparent) of pixel (x, y), y from the top."""
    s = size / 32.0
    u, v = (x + 0.5) / s, (y + 0.5) / s  # pixel centre on the 32x32 design grid
    if not (2 <= u < 30 and 4 <= v < 28):
        return None
    edge = max(1.0, 1.0 / s)  # one design unit, at least one pixel
    if u < 2 + edge or u >= 30 - edge or v < 4 + edge or v >= 28 - edge:
        return BOX_DARK
    on_tape = 14 <= u < 18
    if v < 11:  # lid
        return TAPE if on_tape else BOX_TOP
    if v < 11 + edge:  # seam under the lid
        return BOX_DARK
    if 8 <= u < 24 and 17 <= v < 26:  # shipping label with two lines of "text"
        if 10 <= u < 22 and (19 <= v < 21 or 23 <= v < 25):
            return LABEL_LINE
        return LABEL
    return TAPE if on_tape else BOX_FRONT


def icon_image(size):
    """BITMAPINFOHEADER + BGRA rows (bottom-up) + 1-bit AND mask, as stored in an .ico."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for y in reversed(range(size)):
        row_mask = bytearray(mask_stride)
        for x in range(size):
            colour = icon_pixel(x, y, size)
            if colour is None:
                xor += b"\0\0\0\0"
                row_mask[x // 8] |= 0x80 >> (x % 8)
            else:
                r, g, b = colour
                xor += bytes((b, g, r, 0xFF))
        mask += row_mask
    return header + bytes(xor) + bytes(mask)


def write_icon(path):
    sizes = (16, 32)
    images = [icon_image(size) for size in sizes]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    data += b"".join(images)
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------------------------------------


def write_text(path, text):
    # "\n" line ends on every host, so the output is the same everywhere.
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write(text)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: gen_resources.py strings.json OUTDIR\n")
        return 2
    try:
        doc = load(argv[1])
    except (InputError, KeyError, TypeError, ValueError) as e:
        sys.stderr.write("gen_resources.py: %s: %s\n" % (argv[1], e))
        return 1
    os.makedirs(argv[2], exist_ok=True)
    write_string_table_inc(doc, os.path.join(argv[2], "string_table.inc"))
    write_strings_rc(doc, os.path.join(argv[2], "strings.rc"))
    write_icon(os.path.join(argv[2], "stub.ico"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
