#!/usr/bin/env -S /usr/bin/python3
"""Draws the Windows program's icon from the demo's own cube picture and
writes it to src/app/windows/movra.ico.

Usage:  /usr/bin/python3 tools/make_icon.py [--out FILE]

The cube face, data/pic/skuta2.jpg, is the ship in a rope ring; it is stored
upside down (the cube shows its first row at the bottom), so it is turned
upright here, cut to the ring and made transparent outside it. The icon
holds it at 16, 24, 32, 48, 64, 128 and 256 pixels, each scaled from the
full picture, so the same input writes the same file.
"""

import argparse
import os

from PIL import Image, ImageDraw

SIZES = [16, 24, 32, 48, 64, 128, 256]
SUPERSAMPLE = 4


def ring_icon(picture, size):
    """The picture upright, scaled to size x size, transparent outside its ring."""
    face = picture.transpose(Image.Transpose.FLIP_TOP_BOTTOM).convert("RGB")
    # The ring sits inside a thin frame; cut just inside the frame.
    side = face.width
    inset = side * 3 // 100
    face = face.crop((inset, inset, side - inset, side - inset))
    big = size * SUPERSAMPLE
    mask = Image.new("L", (big, big), 0)
    ImageDraw.Draw(mask).ellipse((0, 0, big - 1, big - 1), fill=255)
    icon = face.resize((size, size), Image.Resampling.LANCZOS).convert("RGBA")
    icon.putalpha(mask.resize((size, size), Image.Resampling.LANCZOS))
    return icon


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(root, "src/app/windows/movra.ico"))
    args = parser.parse_args()
    picture = Image.open(os.path.join(root, "data/pic/skuta2.jpg"))
    largest = ring_icon(picture, SIZES[-1])
    others = [ring_icon(picture, size) for size in SIZES[:-1]]
    largest.save(args.out, format="ICO", sizes=[(s, s) for s in SIZES], append_images=others)
    print(f"wrote {args.out} ({os.path.getsize(args.out)} bytes, {len(SIZES)} sizes)")


if __name__ == "__main__":
    main()
