"""Rendered pages for the orientation models: text pages in every script
category of the classifier, and pages without text, as a scanner delivers
them (grey or colour ground, blur, noise, JPEG, uneven or inverted ground),
turned by a known number of clockwise quarter turns.

Everything is drawn from Debian fonts and a seeded generator; no text corpus
is used: words are random strings of each script's letters.
"""
import glob
import io
import os

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont

# Label names of the classifier, in label order.
CATEGORY = ["Arabic0", "Arabic180", "CJ0", "CJ90", "CJ180", "CJ270", "Cyril0", "Cyril180", "Korean0", "Korean180",
            "Latin0", "Latin180", "THAI0", "THAI180", "Dotbold0", "Dotbold180", "Digital0", "Digital180", "Upper0",
            "Upper180", "Dotmatrix0", "Dotmatrix180", "DotmatrixW0", "DotmatrixW180", "Background"]
SCRIPTS = ["Arabic", "CJ", "Cyril", "Korean", "Latin", "THAI", "Dotbold", "Digital", "Upper", "Dotmatrix", "DotmatrixW"]
BACKGROUND = 24

TT = "/usr/share/fonts/truetype"
OT = "/usr/share/fonts/opentype"


def _fonts(*patterns):
    found = []
    for p in patterns:
        found += sorted(glob.glob(p))
    return found


LATIN_FONTS = _fonts(TT + "/dejavu/DejaVuSans.ttf", TT + "/dejavu/DejaVuSerif.ttf", TT + "/dejavu/DejaVuSans-Bold.ttf",
                     TT + "/dejavu/DejaVuSansCondensed.ttf", TT + "/dejavu/DejaVuSerif-Italic.ttf",
                     TT + "/liberation2/Liberation*-Regular.ttf", TT + "/liberation2/Liberation*-Bold.ttf",
                     TT + "/liberation2/LiberationSerif-Italic.ttf", TT + "/freefont/Free*.ttf",
                     TT + "/noto/NotoSans-Regular.ttf", TT + "/noto/NotoSerif-Regular.ttf",
                     TT + "/noto/NotoSerif-Bold.ttf", TT + "/noto/NotoSans-Italic.ttf")
MONO_FONTS = _fonts(TT + "/dejavu/DejaVuSansMono.ttf", TT + "/liberation2/LiberationMono-Regular.ttf",
                    TT + "/freefont/FreeMono.ttf", TT + "/dejavu/DejaVuSansMono-Bold.ttf")
CYRIL_FONTS = [f for f in LATIN_FONTS if "Free" not in f or "Mono" not in f]
ARABIC_FONTS = _fonts(TT + "/noto/NotoNaskhArabic-Regular.ttf", TT + "/noto/NotoNaskhArabic-Bold.ttf",
                      TT + "/noto/NotoSansArabic-Regular.ttf", TT + "/noto/NotoSansArabic-Bold.ttf",
                      TT + "/noto/NotoKufiArabic-Regular.ttf", TT + "/dejavu/DejaVuSans.ttf",
                      TT + "/freefont/FreeSerif.ttf", TT + "/freefont/FreeSans.ttf")
THAI_FONTS = _fonts(TT + "/tlwg/Garuda.ttf", TT + "/tlwg/Kinnari.ttf", TT + "/tlwg/Loma.ttf", TT + "/tlwg/Norasi.ttf",
                    TT + "/tlwg/Sawasdee.ttf", TT + "/tlwg/Laksaman.ttf", TT + "/tlwg/Garuda-Bold.ttf",
                    TT + "/tlwg/Norasi-Bold.ttf", TT + "/tlwg/Purisa.ttf", TT + "/tlwg/Waree.ttf",
                    TT + "/noto/NotoSansThai-Regular.ttf", TT + "/noto/NotoSerifThai-Regular.ttf",
                    TT + "/noto/NotoLoopedThai-Regular.ttf")
# (file, face index): the collections hold one face per region.
CJ_FONTS = [(f, i) for f in _fonts(OT + "/noto/NotoSansCJK-Regular.ttc", OT + "/noto/NotoSerifCJK-Regular.ttc",
                                   OT + "/noto/NotoSansCJK-Bold.ttc", OT + "/noto/NotoSerifCJK-Bold.ttc")
            for i in (0, 2, 3)]
KOREAN_FONTS = [(f, 0) for f in _fonts(TT + "/nanum/NanumGothic.ttf", TT + "/nanum/NanumMyeongjo.ttf",
                                       TT + "/nanum/NanumBarunGothic.ttf", TT + "/nanum/NanumGothicBold.ttf",
                                       TT + "/nanum/NanumSquareR.ttf", TT + "/nanum/NanumMyeongjoBold.ttf")] + \
               [(f, 1) for f in _fonts(OT + "/noto/NotoSansCJK-Regular.ttc", OT + "/noto/NotoSerifCJK-Regular.ttc")]
DIGITAL_FONTS = _fonts(TT + "/dseg/DSEG7Classic-Regular.ttf", TT + "/dseg/DSEG7Classic-Bold.ttf",
                       TT + "/dseg/DSEG7Modern-Regular.ttf", TT + "/dseg/DSEG7Modern-Bold.ttf",
                       TT + "/dseg/DSEG14Classic-Regular.ttf", TT + "/dseg/DSEG14Modern-Regular.ttf",
                       TT + "/dseg/DSEG7Classic-Italic.ttf", TT + "/dseg/DSEG14Modern-Bold.ttf")

LATIN_FREQ = "eeeeeeeeeeeetttttttttaaaaaaaaooooooooiiiiiiinnnnnnnsssssshhhhhhrrrrrrddddlllluuucccmmmwwffggyyppbbvkjxqz"
CYRIL = "оооооееееааааииииннннттттссссррррвввлллккккммммдддппппуууяяыыььггззббччйххжшюцщэфъё"
ARABIC = "اااااللللليييمممووونننهههررربببتتتعكفقسدذحجخشصضطظزثغةىء"
THAI_CONS = "กขคงจฉชซญดตถทธนบปผพฟภมยรลวศษสหอฮ"
THAI_LEAD = "เแโใไ"
THAI_UPPER = ["ิ", "ี", "ึ", "ื", "ั", "็"]
THAI_LOWER = ["ุ", "ู"]
THAI_TONE = ["่", "้", "๊", "๋"]
THAI_TRAIL = ["า", "ะ", "ำ"]


def _word(rng, letters, lo=1, hi=9):
    n = int(rng.integers(lo, hi + 1))
    return "".join(letters[int(i)] for i in rng.integers(0, len(letters), n))


def _thai_word(rng):
    out = []
    for _ in range(int(rng.integers(1, 5))):
        s = ""
        if rng.random() < 0.25:
            s += THAI_LEAD[int(rng.integers(len(THAI_LEAD)))]
        s += THAI_CONS[int(rng.integers(len(THAI_CONS)))]
        r = rng.random()
        if r < 0.3:
            s += THAI_UPPER[int(rng.integers(len(THAI_UPPER)))]
        elif r < 0.4:
            s += THAI_LOWER[int(rng.integers(len(THAI_LOWER)))]
        if rng.random() < 0.3:
            s += THAI_TONE[int(rng.integers(len(THAI_TONE)))]
        if rng.random() < 0.3:
            s += THAI_TRAIL[int(rng.integers(len(THAI_TRAIL)))]
        if rng.random() < 0.5:
            s += THAI_CONS[int(rng.integers(len(THAI_CONS)))]
        out.append(s)
    return "".join(out)


def _hangul(rng):
    lead, vowel = int(rng.integers(0, 19)), int(rng.integers(0, 21))
    tail = 0 if rng.random() < 0.55 else int(rng.integers(1, 28))
    return chr(0xAC00 + (lead * 21 + vowel) * 28 + tail)


def _cj_char(rng):
    r = rng.random()
    if r < 0.3:
        return chr(int(rng.integers(0x3041, 0x3094)))  # hiragana
    if r < 0.4:
        return chr(int(rng.integers(0x30A1, 0x30F7)))  # katakana
    return chr(int(rng.integers(0x4E00, 0x7000)))


def text_of(rng, script, chars):
    """About `chars` characters of random text in `script`."""
    words = []
    n = 0
    while n < chars:
        if script in ("Latin", "Dotmatrix", "Dotbold", "DotmatrixW"):
            w = _word(rng, LATIN_FREQ)
            if rng.random() < 0.15:
                w = w.capitalize()
            if rng.random() < 0.05:
                w = str(int(rng.integers(1, 10000)))
            if rng.random() < 0.1:
                w += "," if rng.random() < 0.6 else "."
        elif script == "Upper":
            w = _word(rng, LATIN_FREQ).upper()
            if rng.random() < 0.1:
                w = str(int(rng.integers(1, 1000)))
        elif script == "Cyril":
            w = _word(rng, CYRIL)
            if rng.random() < 0.12:
                w = w.capitalize()
            if rng.random() < 0.08:
                w += ","
        elif script == "Arabic":
            w = _word(rng, ARABIC, 2, 7)
        elif script == "THAI":
            w = _thai_word(rng)
        elif script == "Korean":
            w = "".join(_hangul(rng) for _ in range(int(rng.integers(1, 5))))
        elif script == "CJ":
            w = "".join(_cj_char(rng) for _ in range(int(rng.integers(4, 16))))
            w += "、" if rng.random() < 0.5 else "。"
        elif script == "Digital":
            w = "".join("0123456789"[int(i)] for i in rng.integers(0, 10, int(rng.integers(2, 8))))
            if rng.random() < 0.3:
                w = w[:2] + ":" + w[2:] if len(w) > 2 else w
            if rng.random() < 0.2:
                w = "-" + w
        words.append(w)
        n += len(w) + 1
    return ("" if script == "CJ" else " ").join(words)


def _font(path_index, size):
    if isinstance(path_index, tuple):
        return ImageFont.truetype(path_index[0], size, index=path_index[1], layout_engine=ImageFont.Layout.RAQM)
    return ImageFont.truetype(path_index, size, layout_engine=ImageFont.Layout.RAQM)


def _font_pool(script):
    return {"Latin": LATIN_FONTS, "Upper": LATIN_FONTS, "Cyril": CYRIL_FONTS, "Arabic": ARABIC_FONTS,
            "THAI": THAI_FONTS, "CJ": CJ_FONTS, "Korean": KOREAN_FONTS, "Digital": DIGITAL_FONTS,
            "Dotmatrix": MONO_FONTS, "Dotbold": MONO_FONTS, "DotmatrixW": MONO_FONTS}[script]


def _dot_line(text, font_path, pitch, kind, rng):
    """A line printed by a dot-matrix head: the glyphs sampled onto a grid of
    dots `pitch` pixels apart. "Dotmatrix": separate round dots; "Dotbold":
    the head's bold mode, each column struck twice half a pitch apart with
    larger dots, so that dots merge; "DotmatrixW": the wide mode, every dot
    column doubled so that characters are twice as wide."""
    small = ImageFont.truetype(font_path, 11)
    box = small.getbbox(text)
    w, h = max(1, box[2]) + 2, 14
    grid = Image.new("L", (w, h), 0)
    ImageDraw.Draw(grid).text((1, 0), text, font=small, fill=255)
    g = np.asarray(grid) > 110
    if kind == "DotmatrixW":
        g = np.repeat(g, 2, axis=1)
    gh, gw = g.shape
    hp = pitch * 0.8 if kind == "DotmatrixW" else pitch
    out = Image.new("L", (int(gw * hp + 2 * pitch), int(gh * pitch + 2 * pitch)), 255)
    d = ImageDraw.Draw(out)
    r = pitch * (0.62 if kind == "Dotbold" else 0.42) * rng.uniform(0.85, 1.15)
    ys, xs = np.nonzero(g)
    for y, x in zip(ys, xs):
        cx, cy = pitch + x * hp, pitch + y * pitch
        d.ellipse((cx - r, cy - r, cx + r, cy + r), fill=0)
        if kind == "Dotbold":
            cx += hp * 0.5
            d.ellipse((cx - r, cy - r, cx + r, cy + r), fill=0)
    return out


def _draw_lines(canvas, rng, script, x0, y0, x1, y1, size, spacing, vertical):
    """Fills the box with paragraphs of lines; returns the bottom used."""
    draw = ImageDraw.Draw(canvas)
    pool = _font_pool(script)
    font_id = pool[int(rng.integers(len(pool)))]
    dots = script in ("Dotmatrix", "Dotbold", "DotmatrixW")
    font = None if dots else _font(font_id, size)
    width = x1 - x0
    if vertical:  # CJ columns, right to left
        pitch = int(size * spacing)
        x = x1 - size
        while x > x0:
            col = text_of(rng, script, int((y1 - y0) / size) + 2)
            y = y0
            for ch in col:
                if y + size > y1:
                    break
                draw.text((x, y), ch, font=font, fill=0)
                y += size
            x -= pitch
        return y1
    y = y0
    line_h = int(size * spacing)
    para_left = int(rng.integers(4, 14))
    while y + line_h < y1:
        frac = 1.0
        para_left -= 1
        if para_left == 0:
            frac = rng.uniform(0.15, 0.8)
            para_left = int(rng.integers(3, 14))
        chars = max(3, int(width * frac / (size * (1.0 if script in ("CJ", "Korean") else 0.5))))
        text = text_of(rng, script, chars)
        if dots:
            pitch = max(3, size // 11)
            img = _dot_line(text, font_id, pitch, script, rng)
            if img.width > width:
                img = img.crop((0, 0, int(width * frac), img.height))
            canvas.paste(Image.fromarray(np.minimum(np.asarray(canvas.crop((x0, y, x0 + img.width, y + img.height))),
                                                    np.asarray(img))), (x0, y))
            y += max(line_h, img.height)
            if para_left == int(rng.integers(3, 14)):
                y += line_h // 2
            continue
        # Fit the text to the column: cut words until it fits.
        while len(text) > 3 and font.getlength(text) > width * frac:
            text = text[:int(len(text) * 0.9)]
        if script == "Arabic":
            right = x1
            draw.text((right, y), text, font=font, fill=0, anchor="ra", direction="rtl")
        else:
            draw.text((x0, y), text, font=font, fill=0)
        y += line_h
        if para_left == 1 and rng.random() < 0.6:
            y += line_h // 2
    return y


def text_page(rng, script, dpi=300, size_mm=(210, 297), lines_fill=None, columns=None, heading=None):
    """A white sheet with black text (0 ink, 255 paper) as PIL "L"."""
    w, h = int(size_mm[0] / 25.4 * dpi), int(size_mm[1] / 25.4 * dpi)
    canvas = Image.new("L", (w, h), 255)
    margin = int(rng.uniform(10, 28) / 25.4 * dpi)
    pt = rng.uniform(8.5, 14) if script not in ("Digital",) else rng.uniform(12, 22)
    size = int(pt / 72 * dpi)
    if script in ("Dotmatrix", "Dotbold", "DotmatrixW"):
        size = int(rng.uniform(10, 14) / 72 * dpi)
    spacing = rng.uniform(1.25, 1.8)
    columns = columns or (2 if rng.random() < 0.3 else 1)
    vertical = script == "CJ" and rng.random() < 0.3
    top = margin
    if heading is None:
        heading = rng.random() < 0.5
    if heading and not vertical and script not in ("Dotmatrix", "Dotbold", "DotmatrixW"):
        hsize = int(size * rng.uniform(1.4, 2.2))
        font = _font(_font_pool(script)[int(rng.integers(len(_font_pool(script))))], hsize)
        text = text_of(rng, script, int(rng.integers(8, 30)))
        while len(text) > 3 and font.getlength(text) > w - 2 * margin:
            text = text[:int(len(text) * 0.9)]
        if script == "Arabic":
            ImageDraw.Draw(canvas).text((w - margin, top), text, font=font, fill=0, anchor="ra", direction="rtl")
        else:
            ImageDraw.Draw(canvas).text((margin, top), text, font=font, fill=0)
        top += int(hsize * 2)
    fill = lines_fill if lines_fill is not None else (rng.uniform(0.08, 0.3) if rng.random() < 0.2 else
                                                      rng.uniform(0.5, 1.0))
    bottom = top + int((h - margin - top) * fill)
    gap = int(size * 1.5)
    colw = (w - 2 * margin - (columns - 1) * gap) // columns
    for c in range(columns):
        x0 = margin + c * (colw + gap)
        _draw_lines(canvas, rng, script, x0, top, x0 + colw, bottom, size, spacing, vertical)
    return canvas


def _smooth_field(rng, h, w, scale):
    small = rng.random((max(2, h // scale), max(2, w // scale))).astype(np.float32)
    return np.asarray(Image.fromarray((small * 255).astype(np.uint8)).resize((w, h), Image.BICUBIC),
                      np.float32) / 255


def blank_page(rng, dpi=300, size_mm=(210, 297), kind=None):
    """A sheet without text (0 dark, 255 paper): blank, photo, texture or rules."""
    w, h = int(size_mm[0] / 25.4 * dpi), int(size_mm[1] / 25.4 * dpi)
    kind = kind or ["blank", "photo", "texture", "rules"][int(rng.integers(4))]
    page = np.full((h, w), 255, np.float32)
    margin = int(rng.uniform(10, 25) / 25.4 * dpi)
    if kind == "photo":
        for _ in range(int(rng.integers(1, 4))):
            pw, ph = int(rng.uniform(0.3, 0.9) * (w - 2 * margin)), int(rng.uniform(0.15, 0.5) * (h - 2 * margin))
            px, py = int(rng.integers(margin, w - margin - pw)), int(rng.integers(margin, h - margin - ph))
            f = 0.6 * _smooth_field(rng, ph, pw, int(rng.integers(20, 200))) + \
                0.4 * _smooth_field(rng, ph, pw, int(rng.integers(3, 20)))
            img = Image.fromarray((f * 255).astype(np.uint8))
            d = ImageDraw.Draw(img)
            for _ in range(int(rng.integers(3, 20))):
                cx, cy, r = rng.integers(0, pw), rng.integers(0, ph), rng.integers(10, max(12, ph // 3))
                d.ellipse((cx - r, cy - r, cx + r, cy + r), fill=int(rng.integers(0, 256)))
            img = img.filter(ImageFilter.GaussianBlur(rng.uniform(1, 6)))
            page[py:py + ph, px:px + pw] = np.asarray(img, np.float32)
    elif kind == "texture":
        period = rng.uniform(3, 14)
        yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
        a = rng.uniform(0, np.pi)
        wave = np.sin((xx * np.cos(a) + yy * np.sin(a)) * 2 * np.pi / period)
        if rng.random() < 0.5:
            wave = wave * np.sin((xx * np.sin(a) - yy * np.cos(a)) * 2 * np.pi / period)
        noise = rng.normal(0, 1, (h, w)).astype(np.float32)
        t = wave * rng.uniform(0, 60) + noise * rng.uniform(5, 30)
        page = np.clip(rng.uniform(150, 240) + t, 0, 255)
    elif kind == "rules":
        img = Image.new("L", (w, h), 255)
        d = ImageDraw.Draw(img)
        step = int(rng.uniform(6, 20) / 25.4 * dpi)
        thick = int(rng.integers(1, 6))
        for y in range(margin, h - margin, step):
            d.line((margin, y, w - margin, y), fill=0, width=thick)
        if rng.random() < 0.6:
            xs = sorted(rng.integers(margin, w - margin, int(rng.integers(2, 7))))
            for x in [margin] + list(xs) + [w - margin]:
                d.line((x, margin, x, h - margin - (h - 2 * margin) % step), fill=0, width=thick)
        page = np.asarray(img, np.float32)
    return Image.fromarray(page.astype(np.uint8)), kind


def scan(rng, sheet, colour=False, invert=False, low_contrast=False, degrade=True):
    """The sheet as a scanner delivers it: ink and paper levels, tint,
    uneven ground, blur, noise and JPEG. Grey (H x W) or RGB (H x W x 3)."""
    a = np.asarray(sheet, np.float32) / 255  # 0 ink, 1 paper
    h, w = a.shape
    if invert:
        a = 1 - a
    paper = rng.uniform(200, 250)
    ink = rng.uniform(10, 70)
    if low_contrast:
        paper, ink = rng.uniform(190, 235), rng.uniform(110, 150)
    if degrade and rng.random() < 0.3:
        ground = 1 - rng.uniform(0.05, 0.25) * _smooth_field(rng, h, w, int(rng.integers(300, 1200)))
        paper = paper * ground
    if colour:
        tint_paper = rng.uniform(0.8, 1.0, 3)
        tint_ink = rng.uniform(0.0, 1.0, 3) if rng.random() < 0.5 else np.ones(3)
        img = np.empty((h, w, 3), np.float32)
        for c in range(3):
            img[:, :, c] = ink * tint_ink[c] + (paper * tint_paper[c] - ink * tint_ink[c]) * a
    else:
        img = ink + (paper - ink) * a
    if degrade:
        pil = Image.fromarray(np.clip(img, 0, 255).astype(np.uint8))
        if rng.random() < 0.5:
            pil = pil.filter(ImageFilter.GaussianBlur(rng.uniform(0.3, 1.3)))
        img = np.asarray(pil, np.float32)
        if rng.random() < 0.5:
            img = img + rng.normal(0, rng.uniform(2, 12), img.shape).astype(np.float32)
        img = np.clip(img, 0, 255).astype(np.uint8)
        if rng.random() < 0.5:
            buf = io.BytesIO()
            Image.fromarray(img).save(buf, "JPEG", quality=int(rng.integers(35, 92)))
            img = np.asarray(Image.open(io.BytesIO(buf.getvalue())))
        return img
    return np.clip(img, 0, 255).astype(np.uint8)


def to_grey(img):
    """The unit's own conversion of a colour page."""
    if img.ndim == 2:
        return img
    r, g, b = (img[:, :, c].astype(np.int32) for c in range(3))
    return ((77 * r + 150 * g + 29 * b) >> 8).astype(np.uint8)


def turn(img, quarters):
    """`quarters` clockwise quarter turns."""
    return np.ascontiguousarray(np.rot90(img, -quarters))


PAPER = [(210, 297), (215.9, 279.4), (148, 210), (182, 257), (215.9, 355.6)]


def random_page(rng, heldout=False, script_weights=None):
    """One page: (image, meta). meta: script (or None), quarters, kind.
    `script_weights` (one per SCRIPTS entry) draws some scripts more often."""
    dpi = 600 if rng.random() < 0.12 else 300
    size = PAPER[int(rng.integers(len(PAPER)))] if rng.random() < 0.5 else PAPER[0]
    if dpi == 600:
        size = PAPER[2] if rng.random() < 0.5 else PAPER[0]
    quarters = int(rng.integers(4))
    colour = rng.random() < 0.35
    if rng.random() < 0.2:
        sheet, kind = blank_page(rng, dpi, size)
        script = None
        invert = False
    else:
        if script_weights is None:
            script = SCRIPTS[int(rng.integers(len(SCRIPTS)))]
        else:
            w = np.asarray(script_weights, np.float64)
            script = SCRIPTS[int(rng.choice(len(SCRIPTS), p=w / w.sum()))]
        sheet = text_page(rng, script, dpi, size)
        kind = "text"
        invert = rng.random() < 0.08
    img = scan(rng, sheet, colour=colour, invert=invert, low_contrast=rng.random() < 0.1)
    img = turn(img, quarters)
    return img, {"script": script, "quarters": quarters, "kind": kind, "dpi": dpi, "colour": colour,
                 "invert": invert}


def write_pnm(path, img):
    Image.fromarray(img).save(path)


def random_strips(rng, img, n):
    """`n` strips of 18 rows cut from random boxes of a grey page and scaled
    as the driver scales a candidate line for the text detector."""
    h, w = img.shape
    out = []
    for _ in range(n):
        bh = int(rng.integers(8, 90))
        bw = int(min(w - 1, bh * rng.uniform(3, 15)))
        if bh >= h or bw < 2:
            continue
        x, y = int(rng.integers(0, w - bw)), int(rng.integers(0, h - bh))
        box = img[y:y + bh, x:x + bw]
        if rng.random() < 0.5:  # a vertical candidate, turned as the driver turns it
            box = np.ascontiguousarray(np.rot90(img[y:y + bw, x:x + bh] if y + bw <= h and x + bh <= w else box, -1))
        f = 18.0 / box.shape[0]
        out.append(np.asarray(Image.fromarray(box).resize((max(1, int(f * box.shape[1])), 18), Image.BILINEAR)))
    return out
