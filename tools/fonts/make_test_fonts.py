#!/usr/bin/python3
"""Writes the small TrueType fonts that the text tests draw with, into tests/data/fonts.

Run once with Debian's python3-fonttools (apt install python3-fonttools) when the glyph set
changes; the .ttf files are committed, so neither CI nor a developer needs the generator:

    /usr/bin/python3 tools/fonts/make_test_fonts.py

Every glyph is made of axis-aligned rectangles whose edges lie on multiples of 50 font units.
All fonts have 1000 units per em, an ascender of 800 and a descender of -200, so at a pixel height
h (ascent plus descent) one unit is h/1000 pixels, the baseline lies 0.8 h below the top of the
character cell, and at every height that is a multiple of 20 each edge falls on a whole pixel. The
rasteriser then fills exactly the pixels inside the rectangles, whatever its version.

Families (the Japanese ones have a Japanese family name, which the engine lists, and an English
one; both are marked as serving the JIS code page):

  "ＭＳ Ｐゴシック" (English "KX Test PGothic"): proportional, Japanese, Regular and a real Bold.
  "ＭＳ 明朝" (English "KX Test Mincho"): fixed pitch (ASCII half the em, the rest the full em),
      Japanese, Regular only (bold is emboldened).
  "KX Test Latin": proportional, not Japanese, Latin glyphs only (others come from the fallback).

Glyphs (x0, y0, x1, y1 in font units, y up from the baseline; advance in units), for the
Regular faces; the Bold face widens every rectangle by 100 units to the right and adds 100 to
each advance:

  PGothic and Latin              Mincho
  U+0020 space  no ink, adv 250  no ink, adv 500
  U+0041 A      (100,0,500,700)         adv 600   (100,0,400,700)   adv 500
  U+0049 I      (100,0,200,700)         adv 300   (200,0,300,700)   adv 500
  U+0070 p      (100,-200,400,500)      adv 500   (100,-200,400,500) adv 500
  U+002E .      (100,0,200,100)         adv 300   (200,0,300,100)   adv 500
  U+25A0 ■      (0,-200,1000,800)       adv 1000  (0,-200,1000,800) adv 1000   (the whole cell)
  U+3042 あ     (100,-100,900,700)      adv 1000  same                adv 1000   (not in Latin)
  U+6F22 漢     (100,-100,450,700) and (550,-100,900,700), adv 1000, same in Mincho (not in Latin)
  .notdef       a frame (50,0,450,700) that the engine must never show, adv 500

At height 20: A covers columns 2..9 and rows 2..15 of the cell (PGothic); ■ covers the whole 20 x 20
cell; at height 80 (the 4x glyph of size 20): A covers columns 8..39 and rows 8..63.
"""
import os
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen

UPEM = 1000
ASCENT = 800
DESCENT = -200

PROPORTIONAL = {
    "space": (0x20, 250, []),
    "A": (0x41, 600, [(100, 0, 500, 700)]),
    "I": (0x49, 300, [(100, 0, 200, 700)]),
    "p": (0x70, 500, [(100, -200, 400, 500)]),
    "period": (0x2E, 300, [(100, 0, 200, 100)]),
    "filledbox": (0x25A0, 1000, [(0, -200, 1000, 800)]),
    "uni3042": (0x3042, 1000, [(100, -100, 900, 700)]),
    "uni6F22": (0x6F22, 1000, [(100, -100, 450, 700), (550, -100, 900, 700)]),
}
FIXED = {
    "space": (0x20, 500, []),
    "A": (0x41, 500, [(100, 0, 400, 700)]),
    "I": (0x49, 500, [(200, 0, 300, 700)]),
    "p": (0x70, 500, [(100, -200, 400, 500)]),
    "period": (0x2E, 500, [(200, 0, 300, 100)]),
    "filledbox": (0x25A0, 1000, [(0, -200, 1000, 800)]),
    "uni3042": (0x3042, 1000, [(100, -100, 900, 700)]),
    "uni6F22": (0x6F22, 1000, [(100, -100, 450, 700), (550, -100, 900, 700)]),
}
LATIN_ONLY = {k: v for k, v in PROPORTIONAL.items() if k not in ("uni3042", "uni6F22")}


def rect_glyph(rects, frame=False):
    pen = TTGlyphPen(None)
    for (x0, y0, x1, y1) in rects:
        # Clockwise outer contours (TrueType fills clockwise contours).
        pen.moveTo((x0, y0))
        pen.lineTo((x0, y1))
        pen.lineTo((x1, y1))
        pen.lineTo((x1, y0))
        pen.closePath()
        if frame:
            pen.moveTo((x0 + 50, y0 + 50))
            pen.lineTo((x1 - 50, y0 + 50))
            pen.lineTo((x1 - 50, y1 - 50))
            pen.lineTo((x0 + 50, y1 - 50))
            pen.closePath()
    return pen.glyph()


def build(path, family_en, family_ja, style, glyphs, japanese, fixed, bold):
    widen = 100 if bold else 0
    order = [".notdef"] + list(glyphs.keys())
    fb = FontBuilder(UPEM, isTTF=True)
    fb.setupGlyphOrder(order)
    fb.setupCharacterMap({cp: name for name, (cp, _, _) in glyphs.items()})
    drawn = {".notdef": rect_glyph([(50, 0, 450, 700)], frame=True)}
    metrics = {".notdef": (500, 50)}
    for name, (cp, adv, rects) in glyphs.items():
        wide = [(x0, y0, x1 + widen, y1) for (x0, y0, x1, y1) in rects]
        drawn[name] = rect_glyph(wide)
        lsb = min([r[0] for r in wide]) if wide else 0
        metrics[name] = (adv + widen, lsb)
    fb.setupGlyf(drawn)
    fb.setupHorizontalMetrics(metrics)
    fb.setupHorizontalHeader(ascent=ASCENT, descent=DESCENT, lineGap=0)
    names = {
        "familyName": {"en": family_en} if not family_ja else {"en": family_en, "ja": family_ja},
        "styleName": style,
        "uniqueFontIdentifier": f"KOLVEX test font {family_en} {style}",
        "fullName": f"{family_en} {style}",
        "psName": (family_en + "-" + style).replace(" ", ""),
        "version": "Version 1.000",
    }
    fb.setupNameTable(names, mac=False)
    # Code page bits: Latin 1 for every font, JIS/Japan for the Japanese ones.
    cp1 = (1 << 0) | ((1 << 17) if japanese else 0)
    fb.setupOS2(
        sTypoAscender=ASCENT, sTypoDescender=DESCENT, sTypoLineGap=0,
        usWinAscent=ASCENT, usWinDescent=-DESCENT,
        usWeightClass=700 if bold else 400,
        fsSelection=(1 << 5) if bold else (1 << 6),
        ulCodePageRange1=cp1, ulCodePageRange2=0,
        achVendID="KXTF",
    )
    # No "force integer ppem" flag: the scale stays exactly height / 1000.
    fb.setupPost(isFixedPitch=1 if fixed else 0)
    fb.font["head"].flags = 0x0003
    fb.font["head"].macStyle = 1 if bold else 0
    fb.setupDummyDSIG() if hasattr(fb, "setupDummyDSIG") else None
    fb.save(path)


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    out = os.path.join(root, "tests", "data", "fonts")
    os.makedirs(out, exist_ok=True)
    build(os.path.join(out, "kxtest-pgothic.ttf"), "KX Test PGothic", "ＭＳ Ｐゴシック", "Regular",
          PROPORTIONAL, japanese=True, fixed=False, bold=False)
    build(os.path.join(out, "kxtest-pgothic-bold.ttf"), "KX Test PGothic", "ＭＳ Ｐゴシック", "Bold",
          PROPORTIONAL, japanese=True, fixed=False, bold=True)
    build(os.path.join(out, "kxtest-mincho.ttf"), "KX Test Mincho", "ＭＳ 明朝", "Regular",
          FIXED, japanese=True, fixed=True, bold=False)
    build(os.path.join(out, "kxtest-latin.ttf"), "KX Test Latin", None, "Regular",
          LATIN_ONLY, japanese=False, fixed=False, bold=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
