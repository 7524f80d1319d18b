#!/usr/bin/env python3
"""Draws the settings page's artwork: the maker's banner, the effect's logo and the eyedropper
icon. Run from the repository root with Debian's python3-pil; the PNGs it writes are committed
and compiled into the program, so the build does not need this script."""
from PIL import Image, ImageDraw, ImageFont, PngImagePlugin

BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"


def png_info():
    info = PngImagePlugin.PngInfo()
    info.add(b"sRGB", b"\x00")  # perceptual
    info.add(b"gAMA", (45455).to_bytes(4, "big"))  # 1/2.2
    return info


def save(image, path):
    image.save(path, pnginfo=png_info(), dpi=(72, 72), optimize=True)


def centred_text(draw, size, text, font, fill):
    left, top, right, bottom = draw.textbbox((0, 0), text, font=font)
    x = (size[0] - (right - left)) // 2 - left
    y = (size[1] - (bottom - top)) // 2 - top
    draw.text((x, y), text, font=font, fill=fill)


def banner():
    size = (123, 21)
    image = Image.new("RGB", size, (222, 222, 222))
    draw = ImageDraw.Draw(image)
    draw.rectangle((0, 0, size[0] - 1, size[1] - 1), outline=(190, 190, 190))
    font = ImageFont.truetype(BOLD, 12)
    spaced = " ".join("TARNWELL")
    centred_text(draw, size, spaced, font, (40, 40, 48))
    save(image, "settings/images/banner.png")


def logo():
    size = (179, 21)
    image = Image.new("RGB", size, (240, 240, 240))
    draw = ImageDraw.Draw(image)
    draw.rectangle((0, 1, size[0] - 1, size[1] - 2), fill=(112, 112, 118))
    font = ImageFont.truetype(BOLD, 14)
    centred_text(draw, size, "Velmora", font, (255, 255, 255))
    save(image, "settings/images/logo.png")


def eyedropper():
    # Drawn large and reduced, so the diagonal edges are smooth; the tip is the bottom-left pixel.
    scale = 8
    big = Image.new("RGBA", (16 * scale, 16 * scale), (0, 0, 0, 0))
    draw = ImageDraw.Draw(big)

    def p(x, y):
        return (x * scale, y * scale)

    dark = (30, 30, 34, 255)
    glass = (200, 220, 235, 255)
    # bulb, top right
    draw.ellipse((*p(10.5, 0.5), *p(15.5, 5.5)), fill=dark)
    # collar across the tube
    draw.polygon([p(8, 5), p(11, 8), p(12.5, 6.5), p(9.5, 3.5)], fill=dark)
    # glass tube down to the tip, outlined
    draw.polygon([p(0, 16), p(1, 12.5), p(8.2, 5.3), p(10.7, 7.8), p(3.5, 15)], fill=dark)
    draw.polygon([p(1.8, 13.2), p(8.2, 6.8), p(9.2, 7.8), p(2.8, 14.2)], fill=glass)
    icon = big.resize((16, 16), Image.LANCZOS)
    # the tip must be a solid pixel at the hot spot
    icon.putpixel((0, 15), dark)
    save(icon, "cg/images/eyedropper.png")


if __name__ == "__main__":
    banner()
    logo()
    eyedropper()
