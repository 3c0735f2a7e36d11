#!/usr/bin/python3
"""Regenerates the artwork committed under resources/ (logos, splash pictures,
window icon and the sample slideshow pictures).

Needs python3-pil and the Liberation fonts. Neither is needed to build: the
generated files are committed, and only this script depends on PIL. Every run
writes the same bytes, so a regenerated file that differs is a real change.

Usage: scripts/make-artwork.py [resources-dir]
"""
import math
import random
import sys
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

NAVY = (17, 14, 46)        # the navy logo's background, exact to the last pixel
LINE_BLUE = (76, 143, 204)  # the line's blue; background of logo-green.bmp
WHITE = (255, 255, 255)
AMBER = (242, 166, 58)      # the warm accent: the plane and the rails
FONTS = Path("/usr/share/fonts/truetype/liberation")
SS = 4  # supersampling factor: shapes are drawn large and box-filtered down


def font(size, narrow=False):
    name = "LiberationSansNarrow-Bold.ttf" if narrow else "LiberationSans-Bold.ttf"
    return ImageFont.truetype(str(FONTS / name), size)


def fitting_font(text, max_w, start, narrow=False):
    """Largest size up to `start` at which `text` fits in max_w pixels."""
    size = start
    while size > 6 and font(size, narrow).getlength(text) > max_w:
        size -= 1
    return font(size, narrow)


def mask(size, draw_fn):
    """Anti-aliased coverage mask; draw_fn works in supersampled pixels."""
    big = Image.new("L", (size[0] * SS, size[1] * SS), 0)
    draw_fn(ImageDraw.Draw(big), SS)
    return big.resize(size, Image.BOX)


def gradient(size, top, bottom):
    """Vertical linear gradient, top colour to bottom colour."""
    w, h = size
    strip = Image.new("RGB", (1, h))
    for y in range(h):
        t = y / max(h - 1, 1)
        strip.putpixel((0, y), tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)))
    return strip.resize(size, Image.NEAREST)


def plane_points(cx, cy, size, angle_deg):
    """A swept-wing airliner seen from above, nose pointing along angle_deg."""
    outline = [(1.0, 0), (0.8, 0.09), (0.15, 0.1), (-0.25, 0.75), (-0.42, 0.75), (-0.22, 0.1),
               (-0.7, 0.1), (-0.88, 0.38), (-1.0, 0.38), (-0.9, 0)]
    outline = outline + [(x, -y) for x, y in reversed(outline[1:-1])]
    a = math.radians(angle_deg)
    return [(cx + size * (x * math.cos(a) - y * math.sin(a)),
             cy - size * (x * math.sin(a) + y * math.cos(a))) for x, y in outline]


def draw_emblem(img, box, fg, accent, with_plane=True):
    """The Vantrel emblem inside box (x, y, side): a broad "V" whose arms are
    the line's two tracks, a plane climbing out of it and a rail underneath.
    Horizontal edges snap to whole pixels so the small sizes stay crisp."""
    x0, y0, side = box

    def pt(u, v, s, bottom=False):
        # PIL fills the closing row too; stepping back one subpixel keeps the edge sharp.
        return (x0 + u * side) * s, round(y0 + v * side) * s - (1 if bottom else 0)

    def v_shape(d, s):
        d.polygon([pt(0.04, 0.08, s), pt(0.30, 0.08, s), pt(0.50, 0.60, s), pt(0.70, 0.08, s),
                   pt(0.96, 0.08, s), pt(0.60, 0.86, s, True), pt(0.40, 0.86, s, True)], fill=255)

    def accent_shapes(d, s):
        d.rectangle([pt(0.10, 0.91, s), pt(0.90, 0.97, s, True)], fill=255)
        if with_plane:
            d.polygon([(x * s, y * s) for x, y in
                       plane_points(x0 + 0.64 * side, y0 + 0.22 * side, 0.2 * side, 35)], fill=255)

    size = img.size
    img.paste(fg, (0, 0), mask(size, v_shape))
    img.paste(accent, (0, 0), mask(size, accent_shapes))


def make_logo(bg, fg, accent):
    """78x101 station logo: emblem above the name, a plain margin all round."""
    img = Image.new("RGB", (78, 101), bg)
    draw_emblem(img, (8, 8, 62), fg, accent)
    f = fitting_font("VANTREL", 62, 17, narrow=True)
    ImageDraw.Draw(img).text((39, 84), "VANTREL", font=f, fill=fg, anchor="mm")
    return img


def to_palette(img):
    """8-bit copy with a full 256-entry palette. The background (the corner
    colour) is pinned exactly, so the margin matches the navy the logo sits on."""
    bg = img.getpixel((0, 0))
    p = img.quantize(256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    pal = (p.getpalette() or [])[:768]
    pal += [0] * (768 - len(pal))
    idx = p.getpixel((0, 0))
    pal[idx * 3:idx * 3 + 3] = bg
    p.putpalette(pal)
    return p


def make_splash_side():
    """159x326 side panel: emblem at the top, the name set vertically below."""
    w, h = 159, 326
    img = gradient((w, h), NAVY, LINE_BLUE)
    draw_emblem(img, (22, 16, 115), WHITE, AMBER)
    d = ImageDraw.Draw(img)
    d.text((w // 2, 148), "AIRPORT LINE", font=fitting_font("AIRPORT LINE", 130, 16), fill=WHITE,
           anchor="mm")
    # Rotated rather than stacked letter by letter: the word keeps its spacing and reads as one.
    name_font = fitting_font("VANTREL", h - 185, 64, narrow=True)
    tw = int(name_font.getlength("VANTREL")) + 4
    word = Image.new("L", (tw, 80), 0)
    ImageDraw.Draw(word).text((tw // 2, 40), "VANTREL", font=name_font, fill=255, anchor="mm")
    word = word.rotate(90, expand=True)
    img.paste(WHITE, (w // 2 - word.width // 2, 170 + (h - 180 - word.height) // 2), word)
    return img


def make_splash_picture():
    """142x119 flat illustration: a train front on its rails, a plane overhead."""
    w, h = 142, 119
    img = gradient((w, h), (104, 166, 224), (206, 230, 247))
    ground = (58, 92, 70)

    def layer(colour, fn):
        img.paste(colour, (0, 0), mask((w, h), lambda d, s: fn(d, lambda x, y: (x * s, y * s))))

    layer(ground, lambda d, p: d.rectangle([p(0, 92), p(w, h)], fill=255))
    layer((120, 110, 100), lambda d, p: d.polygon([p(52, 92), p(90, 92), p(118, h), p(24, h)], fill=255))
    layer((70, 70, 78), lambda d, p: [d.line([p(a, 92), p(b, h)], fill=255, width=2 * SS)
                                       for a, b in ((58, 34), (84, 108))])
    layer(WHITE, lambda d, p: d.polygon(plane_points(112 * SS, 18 * SS, 15 * SS, 20), fill=255))
    # A navy rim keeps the blue body from melting into the pale sky.
    layer(NAVY, lambda d, p: d.rounded_rectangle([p(39, 33), p(103, 101)], radius=13 * SS, fill=255))
    layer(LINE_BLUE, lambda d, p: d.rounded_rectangle([p(41, 35), p(101, 99)], radius=11 * SS, fill=255))
    layer(NAVY, lambda d, p: d.rounded_rectangle([p(47, 41), p(95, 66)], radius=6 * SS, fill=255))
    layer(WHITE, lambda d, p: d.rectangle([p(41, 74), p(101, 79)], fill=255))
    layer(AMBER, lambda d, p: [d.ellipse([p(cx - 4, 85), p(cx + 4, 93)], fill=255) for cx in (52, 90)])
    layer(NAVY, lambda d, p: d.rectangle([p(60, 96), p(82, 104)], fill=255))
    return img


def make_icon():
    """16x16 window icon: only the V survives at this size, so the plane is dropped."""
    img = Image.new("RGB", (16, 16), NAVY)
    draw_emblem(img, (0, 0, 16), WHITE, AMBER, with_plane=False)
    return img


def centred_lines(img, lines, cy, size, colour=WHITE, gap=1.25):
    """Centred block of text lines; each shrinks to fit within 90 % of the width."""
    d = ImageDraw.Draw(img)
    fonts = [fitting_font(t, img.width * 0.9, size) for t in lines]
    step = size * gap
    top = cy - step * (len(lines) - 1) / 2
    for i, (t, f) in enumerate(zip(lines, fonts)):
        d.text((img.width // 2, top + i * step), t, font=f, fill=colour, anchor="mm")


def make_welcome(size=(1920, 1080)):
    w, h = size
    img = gradient(size, NAVY, LINE_BLUE)
    side = h * 0.3
    draw_emblem(img, (w / 2 - side / 2, h * 0.08, side), WHITE, AMBER)
    centred_lines(img, ["Welcome to the", "Vantrel Airport Line"], h * 0.66, int(h * 0.12))
    return img


def make_tickets():
    w, h = 1920, 1080
    img = Image.new("RGB", (w, h), NAVY)
    d = ImageDraw.Draw(img)
    d.rectangle([0, h - 90, w, h], fill=AMBER)
    # A ticket with punched notches: instantly recognisable from across a concourse.
    d.rounded_rectangle([760, 120, 1160, 360], radius=28, fill=WHITE)
    d.ellipse([730, 210, 790, 270], fill=NAVY)
    d.ellipse([1130, 210, 1190, 270], fill=NAVY)
    d.line([(900, 150), (900, 330)], fill=LINE_BLUE, width=8)
    d.rectangle([940, 190, 1100, 214], fill=LINE_BLUE)
    d.rectangle([940, 250, 1060, 274], fill=AMBER)
    centred_lines(img, ["Buy your ticket", "before boarding"], 690, 150)
    return img


def make_night():
    w, h = 1920, 1080
    img = gradient((w, h), (24, 20, 64), (236, 128, 72))
    d = ImageDraw.Draw(img)
    d.ellipse([1380, 700, 1580, 900], fill=(250, 196, 110))  # the sun setting behind the city
    # Two depths of silhouette: a hazy city behind, the line's viaduct and train in front.
    city, near = (58, 36, 78), (14, 12, 30)
    rng = random.Random(7)  # fixed seed: the skyline must come out the same every run
    x = -20
    while x < w:
        bw, bh = rng.randint(70, 180), rng.randint(120, 330)
        d.rectangle([x, h - 120 - bh, x + bw, h], fill=city)
        x += bw + rng.randint(0, 24)
    d.rectangle([300, h - 560, 330, h], fill=city)  # the airport's control tower
    d.polygon([(270, h - 560), (360, h - 560), (345, h - 620), (285, h - 620)], fill=city)
    d.rectangle([0, h - 90, w, h], fill=near)
    d.rectangle([0, h - 200, w, h - 178], fill=near)  # viaduct deck on its piers
    for px in range(60, w, 240):
        d.rectangle([px, h - 178, px + 36, h - 90], fill=near)
    d.rounded_rectangle([900, h - 262, 1640, h - 200], radius=28, fill=near)
    for wx in range(950, 1600, 64):
        d.rectangle([wx, h - 246, wx + 40, h - 224], fill=(250, 214, 140))
    d.polygon(plane_points(1560, 120, 60, 12), fill=near)
    centred_lines(img, ["Trains every 10 minutes"], h * 0.3, 150)
    return img


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "resources"
    pics = out / "pictures"
    pics.mkdir(parents=True, exist_ok=True)
    to_palette(make_logo(NAVY, WHITE, AMBER)).save(out / "logo-navy.bmp")
    make_logo(LINE_BLUE, NAVY, WHITE).save(out / "logo-green.bmp")
    make_splash_side().save(out / "splash-side.bmp")
    make_splash_picture().save(out / "splash-picture.bmp")
    make_icon().save(out / "icon.bmp")
    for name, fn in (("welcome", make_welcome), ("tickets", make_tickets), ("night", make_night)):
        fn().save(pics / f"vantrel-{name}.jpg", quality=85)
    make_welcome((640, 360)).save(pics / "vantrel-small.png", optimize=True)


if __name__ == "__main__":
    main()
