#!/usr/bin/env python3
"""Before/after contact sheet: a few frames of a clip and of its un-matted copy, each shown over
a checkerboard as any viewer shows a PNG with alpha. The matte colour that stays in the edges
before shows as a fringe; after, the edges are clean.

usage: contact_sheet.py BEFORE_DIR AFTER_DIR OUTPUT.png [COLUMNS]
"""
import os
import sys

from PIL import Image, ImageDraw, ImageFont

THUMB_W, THUMB_H, PAD, LABEL_W = 384, 216, 8, 150


def checkerboard(w, h, cell=12):
    board = Image.new("RGBA", (w, h), (150, 150, 150, 255))
    draw = ImageDraw.Draw(board)
    for y in range(0, h, cell):
        for x in range((y // cell) % 2 * cell, w, 2 * cell):
            draw.rectangle([x, y, x + cell - 1, y + cell - 1], fill=(205, 205, 205, 255))
    return board


def tile(path):
    frame = Image.open(path).convert("RGBA").resize((THUMB_W, THUMB_H), Image.LANCZOS)
    return Image.alpha_composite(checkerboard(THUMB_W, THUMB_H), frame)


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    before_dir, after_dir, output = sys.argv[1:4]
    columns = int(sys.argv[4]) if len(sys.argv) > 4 else 4
    names = sorted(n for n in os.listdir(before_dir) if n.lower().endswith(".png"))
    if not names:
        sys.exit(f"contact_sheet: no PNG files in {before_dir}")
    picks = [names[i * (len(names) - 1) // max(columns - 1, 1)] for i in range(columns)]

    width = LABEL_W + columns * (THUMB_W + PAD) + PAD
    height = 2 * (THUMB_H + PAD) + PAD
    sheet = Image.new("RGB", (width, height), (32, 32, 36))
    draw = ImageDraw.Draw(sheet)
    try:
        font = ImageFont.truetype("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 17)
    except OSError:
        font = ImageFont.load_default()
    rows = [("before", "matted against", "green", before_dir), ("after", "velmora apply", "--matte green", after_dir)]
    for r, (title, line1, line2, folder) in enumerate(rows):
        y = PAD + r * (THUMB_H + PAD)
        draw.text((PAD, y + THUMB_H // 2 - 34), title, fill=(240, 240, 240), font=font)
        draw.text((PAD, y + THUMB_H // 2 - 8), line1, fill=(170, 170, 170), font=font)
        draw.text((PAD, y + THUMB_H // 2 + 14), line2, fill=(170, 170, 170), font=font)
        for c, name in enumerate(picks):
            sheet.paste(tile(os.path.join(folder, name)).convert("RGB"), (LABEL_W + c * (THUMB_W + PAD), y))
    tmp = output + ".tmp.png"
    sheet.save(tmp)
    os.replace(tmp, output)


if __name__ == "__main__":
    main()
