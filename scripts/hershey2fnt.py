#!/usr/bin/env python3
"""Converts Hershey fonts (.jhf) into the looper's stroke-font files.

Usage:
  hershey2fnt.py FONT.jhf OUT.fnt      convert one font
  hershey2fnt.py --ship JHF_DIR DATA   write the shipped fonts and zyb.fnl

A .jhf record is a glyph number (5 columns), a vertex count (3 columns) and
that many letter pairs, the first the left and right bearings; a record may
wrap over lines. Coordinates are letters offset from 'R', y growing downwards;
the pair " R" lifts the pen. The records hold the characters 32..126 in order
(a 96th, the solid block, is left out).

The output is the labelled form of a stroke-font file: the first two tokens
(the first glyph's code and character) are labels, each glyph ends with 255
and is followed by the character of the next glyph as its label, the last
glyph ends with 254, then come 256 glyph offsets (-1 for none). A pen move is
stored as x + 128, a pen draw as x; y runs upwards.

Hershey letters are 21 units from cap line (-12) to baseline (9); the glyph
grid puts the baseline at 35 and the cap line at 140, so one Hershey unit
becomes 5 grid units and x starts at the glyph's left bearing. Glyphs that do
not fit the byte ranges (pen-move x 0..125, pen-draw x 0..127, y 0..253) are
moved or squeezed as little as they must, and each one is reported.
"""
import os
import sys

SCALE = 5
HERSHEY_BASELINE = 9
GRID_BASELINE = 35
MOVE_X_MAX = 125  # 126 and 127 would read back as 254 and 255
DRAW_X_MAX = 127
Y_MAX = 253       # 254 ends the data, 255 ends a glyph
STORE_MAX = 15000
FIRST_CODE = 32
LAST_CODE = 126

# name in the font list, file in data/, source .jhf
SHIPPED = [
    ("modern", "modern.fnt", "futural.jhf"),
    ("roman", "roman.fnt", "timesr.jhf"),
    ("italic", "italic.fnt", "timesi.jhf"),
    ("script", "script.fnt", "scripts.jhf"),
    ("greek", "greek.fnt", "greeks.jhf"),
    ("meteo", "meteo.fnt", "meteorology.jhf"),
]


def read_jhf(path):
    """The glyphs of a .jhf file: (left bearing, [strokes of (x, y)])."""
    with open(path, encoding="latin-1") as f:
        text = f.read()
    glyphs = []
    pos = 0
    while pos < len(text):
        if text[pos] in "\r\n":
            pos += 1
            continue
        count = int(text[pos + 5:pos + 8])
        pos += 8
        letters = []
        while len(letters) < 2 * count:
            if pos >= len(text):
                raise ValueError("%s: record %d is cut short" % (path, len(glyphs) + 1))
            if text[pos] not in "\r\n":
                letters.append(text[pos])
            pos += 1
        left = ord(letters[0]) - ord("R")
        strokes = [[]]
        for i in range(2, len(letters), 2):
            pair = letters[i] + letters[i + 1]
            if pair == " R":
                strokes.append([])
            else:
                strokes[-1].append((ord(pair[0]) - ord("R"), ord(pair[1]) - ord("R")))
        glyphs.append((left, [s for s in strokes if s]))
    return glyphs


def to_grid(left, strokes):
    return [[((x - left) * SCALE, GRID_BASELINE + (HERSHEY_BASELINE - y) * SCALE) for x, y in s]
            for s in strokes]


def fit_x(strokes):
    """Moves and, if it must, narrows a glyph into the x ranges; notes what changed."""
    notes = []
    xs = [x for s in strokes for x, _ in s]
    if min(xs) < 0:
        shift = -min(xs)
        strokes = [[(x + shift, y) for x, y in s] for s in strokes]
        notes.append("moved right by %d" % shift)
    over = max(max(s[0][0] - MOVE_X_MAX for s in strokes),
               max((x - DRAW_X_MAX for s in strokes for x, _ in s[1:]), default=-1))
    if over > 0:
        shift = min(over, min(x for s in strokes for x, _ in s))
        if shift > 0:
            strokes = [[(x - shift, y) for x, y in s] for s in strokes]
            notes.append("moved left by %d" % shift)
        factor = min([MOVE_X_MAX / s[0][0] for s in strokes if s[0][0] > MOVE_X_MAX] +
                     [DRAW_X_MAX / x for s in strokes for x, _ in s[1:] if x > DRAW_X_MAX] + [1.0])
        if factor < 1.0:
            strokes = [[(int(round(x * factor)), y) for x, y in s] for s in strokes]
            notes.append("narrowed to %.3f" % factor)
    return strokes, notes


def fit_y(strokes):
    """Squeezes only the part below the baseline (or above it) that leaves 0..253."""
    notes = []
    ys = [y for s in strokes for _, y in s]
    low, high = min(ys), max(ys)

    def squeeze(y):
        if y < GRID_BASELINE and low < 0:
            return GRID_BASELINE - int(round((GRID_BASELINE - y) * GRID_BASELINE / (GRID_BASELINE - low)))
        if y > GRID_BASELINE and high > Y_MAX:
            return GRID_BASELINE + int(round((y - GRID_BASELINE) * (Y_MAX - GRID_BASELINE) / (high - GRID_BASELINE)))
        return y

    if low < 0 or high > Y_MAX:
        strokes = [[(x, squeeze(y)) for x, y in s] for s in strokes]
        notes.append("y %d..%d squeezed into %d..%d" % (low, high, max(low, 0), min(high, Y_MAX)))
    return strokes, notes


def glyph_bytes(strokes):
    out = []
    for s in strokes:
        (x, y), rest = s[0], s[1:]
        out += [x + 128, y]
        for x, y in rest:
            out += [x, y]
    return out


def check_glyph(data):
    for i in range(0, len(data), 2):
        x, y = data[i], data[i + 1]
        assert 128 <= x <= 128 + MOVE_X_MAX or 0 <= x <= DRAW_X_MAX, x
        assert 0 <= y <= Y_MAX, y


def convert(jhf_path, report):
    """The stroke-font text for one .jhf file."""
    glyphs = read_jhf(jhf_path)[:LAST_CODE - FIRST_CODE + 1]
    name = os.path.basename(jhf_path)
    encoded = []  # (code, bytes)
    for i, (left, strokes) in enumerate(glyphs):
        code = FIRST_CODE + i
        if not strokes:
            continue  # the space, and any blank glyph, is left without strokes
        strokes = to_grid(left, strokes)
        strokes, xnotes = fit_x(strokes)
        strokes, ynotes = fit_y(strokes)
        if xnotes or ynotes:
            report("%s: code %d %r: %s\n" % (name, code, chr(code), ", ".join(xnotes + ynotes)))
        data = glyph_bytes(strokes)
        check_glyph(data)
        encoded.append((code, data))

    offsets = [-1] * 256
    lines = []
    stored = 0
    for k, (code, data) in enumerate(encoded):
        offsets[code] = stored
        stored += len(data) + 1
        if k == 0:
            lines.append("%d %s" % (code, chr(code)))
        end = 254 if k == len(encoded) - 1 else 255
        lines += wrap(data + [end])
        if end == 255:
            lines.append(chr(encoded[k + 1][0]))
    if not encoded:
        lines += ["0 empty", "254"]
        stored = 1
    if stored > STORE_MAX:
        raise ValueError("%s: %d stroke bytes, more than %d" % (name, stored, STORE_MAX))
    lines += wrap(offsets, 16)
    return "\n".join(lines) + "\n"


def wrap(values, per_line=20):
    return [" ".join(str(v) for v in values[i:i + per_line]) for i in range(0, len(values), per_line)]


def write(path, text):
    with open(path, "w", newline="\n") as f:
        f.write(text)


def ship(jhf_dir, data_dir):
    for _, fnt, jhf in SHIPPED:
        write(os.path.join(data_dir, fnt), convert(os.path.join(jhf_dir, jhf), sys.stderr.write))
    write(os.path.join(data_dir, "zyb.fnl"), "".join("%s %s\n" % (n, f) for n, f, _ in SHIPPED))


def main(argv):
    if len(argv) == 4 and argv[1] == "--ship":
        ship(argv[2], argv[3])
    elif len(argv) == 3 and not argv[1].startswith("-"):
        write(argv[2], convert(argv[1], sys.stderr.write))
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
