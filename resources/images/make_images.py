#!/usr/bin/env python3
"""Writes the program's own pictures as SVG files into this folder.

The windows ask for their pictures by name; every name drawn here becomes
<name>.svg (a name with a file extension keeps it: "loading.png" becomes
"loading.png.svg"). Names that a desktop theme icon already says (disks,
folders, file kinds) are not drawn here: UI/Resources/ImageRegistry.cpp maps
them to the Adwaita theme.

The pictures are flat: one accent blue, greys, white. A family of button
states (normal, hover, press, disable) shares one glyph and differs in
colour. Run it again after changing a drawing and commit the SVG files.
"""
import os
import sys

BLUE = "#3582f8"  # the progress strip's fill (53, 130, 248)
STATE_FILL = {
    "normal": BLUE,
    "hover": "#5c9cfa",
    "press": "#2463c7",
    "disable": "#c2c6cc",
    "select": "#2463c7",
}
GREY_TEXT = "#7e8fa4"
LINE = "#e7e9ed"

OUT = os.path.dirname(os.path.abspath(__file__))


def svg(w, h, body):
    return (
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" '
        f'viewBox="0 0 {w} {h}">\n{body}\n</svg>\n'
    )


# Glyphs drawn in a 24 x 24 box, white strokes unless a colour is given.
def glyph(name, color="#ffffff", width=2.4):
    s = f'fill="none" stroke="{color}" stroke-width="{width}" stroke-linecap="round" stroke-linejoin="round"'
    f = f'fill="{color}"'
    return {
        "left": f'<path d="M15 5 L8 12 L15 19" {s}/>',
        "right": f'<path d="M9 5 L16 12 L9 19" {s}/>',
        "search": f'<circle cx="10.5" cy="10.5" r="5.5" {s}/><path d="M14.5 14.5 L20 20" {s}/>',
        "deep": f'<circle cx="10.5" cy="10.5" r="5.5" {s}/><path d="M14.5 14.5 L20 20 M8 10.5 H13 M10.5 8 V13" {s}/>',
        "home": f'<path d="M4 11.5 L12 4.5 L20 11.5 M6.5 10 V19.5 H17.5 V10 M10 19.5 V14 H14 V19.5" {s}/>',
        "export": f'<path d="M12 4 V14 M8 8 L12 4 L16 8 M5 13 V19.5 H19 V13" {s}/>',
        "recover": f'<path d="M12 14 V4 M8 10 L12 14 L16 10 M5 15 V19.5 H19 V15" {s}/>',
        "pause": f'<rect x="6" y="4" width="4" height="16" rx="1" {f}/><rect x="14" y="4" width="4" height="16" rx="1" {f}/>',
        "play": f'<path d="M7 4 L19 12 L7 20 Z" {f}/>',
        "stop": f'<rect x="5" y="5" width="14" height="14" rx="2" {f}/>',
        "close": f'<path d="M7 7 L17 17 M17 7 L7 17" {s}/>',
        "minus": f'<path d="M6 12 H18" {s}/>',
        "plus": f'<path d="M6 12 H18 M12 6 V18" {s}/>',
        "check": f'<path d="M5.5 12.5 L10 17 L18.5 7.5" {s}/>',
        "info": f'<path d="M12 11 V17" {s}/><circle cx="12" cy="7.5" r="1.5" {f}/>',
        "import": f'<path d="M4 8 V19 H20 V9 H12 L10 6.5 H4 Z" {s}/><path d="M12 11 V16.5 M9.5 14 L12 16.5 L14.5 14" {s}/>',
        "menu": f'<path d="M4 6 H20 M4 12 H20 M4 18 H20" {s}/>',
    }[name]


def place(g, x, y, size):
    k = size / 24.0
    return f'<g transform="translate({x:.2f} {y:.2f}) scale({k:.4f})">{g}</g>'


IMAGES = {}


def add(name, w, h, body):
    IMAGES[name] = svg(w, h, body)


STATES4 = ("normal", "press", "hover", "disable")

# Round 60-point buttons of the wizard and the browser's bottom bar.
for family, g in (
    ("back", "left"),
    ("continue", "right"),
    ("scan", "search"),
    ("icon_back", "left"),
    ("icon_home", "home"),
    ("icon_export", "export"),
):
    for st in STATES4:
        add(f"{family}_{st}", 60, 60,
            f'<circle cx="30" cy="30" r="27" fill="{STATE_FILL[st]}"/>' + place(glyph(g), 16, 16, 28))

# Wide rounded buttons with a glyph.
for family, w, h, g in (
    ("next", 300, 70, "right"),
    ("btn_scan", 138, 41, "search"),
    ("btn_recover", 138, 41, "recover"),
    ("btn_ds", 166, 41, "deep"),
):
    for st in STATES4:
        # The glyph sits at the left end, leaving the middle to a label.
        gs = h * 0.55
        add(f"{family}_{st}", w, h,
            f'<rect x="1" y="1" width="{w - 2}" height="{h - 2}" rx="{(h - 2) / 2}" fill="{STATE_FILL[st]}"/>'
            + place(glyph(g), h * 0.45, (h - gs) / 2, gs))

# Small 18-point scan controls.
for family, g in (("pause", "pause"), ("play", "play"), ("stop", "stop")):
    for st in STATES4:
        add(f"{family}_{st}", 18, 18, place(glyph(g, STATE_FILL[st]), 0, 0, 18))
add("del_normal", 18, 18, f'<circle cx="9" cy="9" r="8" fill="{BLUE}"/>' + place(glyph("close"), 3, 3, 12))
add("del_press", 18, 18, f'<circle cx="9" cy="9" r="8" fill="{STATE_FILL["press"]}"/>' + place(glyph("close"), 3, 3, 12))

# Title-bar picture buttons (16 points).
add("icon_infor", 16, 16, f'<circle cx="8" cy="8" r="7" fill="none" stroke="{GREY_TEXT}" stroke-width="1.3"/>'
    + place(glyph("info", GREY_TEXT, 2.2), 1.5, 1.5, 13))
add("icon_infor_hover", 16, 16, f'<circle cx="8" cy="8" r="7.5" fill="{BLUE}"/>' + place(glyph("info", "#ffffff", 2.2), 1.5, 1.5, 13))
add("icon_import", 16, 16, place(glyph("import", GREY_TEXT, 1.8), 0, 0, 16))
add("icon_import_hover", 16, 16, place(glyph("import", BLUE, 1.8), 0, 0, 16))
add("icon_menu", 16, 16, place(glyph("menu", GREY_TEXT, 2.0), 0, 0, 16))
add("icon_menu_hover", 16, 16, place(glyph("menu", BLUE, 2.0), 0, 0, 16))

# The three scan-mode cards of the type page (410 x 90).
MODE_GLYPH = {
    "d": '<path d="M12 16 H30 M15 16 V38 H27 V16 M19 21 V33 M23 21 V33 M18 16 V13 H24 V16" fill="none" stroke="{c}" stroke-width="2.2" stroke-linecap="round" stroke-linejoin="round"/>',
    "f": '<rect x="9" y="14" width="24" height="26" rx="3" fill="none" stroke="{c}" stroke-width="2.2"/><path d="M14 33 H28" stroke="{c}" stroke-width="2.2" stroke-linecap="round"/><circle cx="21" cy="23" r="4" fill="none" stroke="{c}" stroke-width="2.2"/>',
    "c": '<circle cx="19" cy="24" r="9" fill="none" stroke="{c}" stroke-width="2.4"/><path d="M26 31 L33 38 M15 24 H23 M19 20 V28" stroke="{c}" stroke-width="2.4" stroke-linecap="round"/>',
}
for mode in ("d", "f", "c"):
    for st, fill, stroke, gc in (
        ("normal", "#ffffff", LINE, GREY_TEXT),
        ("hover", "#f3f7fe", "#bcd4fb", BLUE),
        ("select", "#eaf2fe", BLUE, BLUE),
    ):
        g = MODE_GLYPH[mode].replace("{c}", gc)
        add(f"{mode}_recover_{st}", 410, 90,
            f'<rect x="1" y="1" width="408" height="88" rx="8" fill="{fill}" stroke="{stroke}" stroke-width="2"/>'
            f'<g transform="translate(18 4) scale(1.0)">{g}</g>')
# (The cards' titles and words are drawn by the page over the pictures.)

# The type page's heading strip and its disk illustration.
add("text", 510, 40, f'<rect x="0" y="19" width="510" height="2" rx="1" fill="{LINE}"/><circle cx="255" cy="20" r="5" fill="{BLUE}"/>')
add("icon_b", 440, 340,
    f'<rect x="60" y="70" width="320" height="200" rx="18" fill="#f5f7fa" stroke="#c2c6cc" stroke-width="3"/>'
    f'<circle cx="220" cy="160" r="70" fill="#ffffff" stroke="#c2c6cc" stroke-width="3"/>'
    f'<circle cx="220" cy="160" r="14" fill="{BLUE}"/>'
    f'<path d="M220 160 L300 230" stroke="#7e8fa4" stroke-width="8" stroke-linecap="round"/>'
    f'<circle cx="340" cy="240" r="7" fill="{BLUE}"/>')

# Tick boxes and radio buttons.
for prefix, size in (("checkbox", 16), ("pf_checkbox", 14)):
    r = size / 8
    box = lambda fill, stroke: f'<rect x="0.75" y="0.75" width="{size - 1.5}" height="{size - 1.5}" rx="{r}" fill="{fill}" stroke="{stroke}" stroke-width="1.5"/>'
    add(f"{prefix}_no", size, size, box("#ffffff", "#9aa5b4"))
    add(f"{prefix}_yes", size, size, box(BLUE, BLUE) + place(glyph("check", "#ffffff", 3.2), 0, 0, size))
    add(f"{prefix}_half", size, size, box(BLUE, BLUE) + place(glyph("minus", "#ffffff", 3.2), 0, 0, size))
add("radio_button_no", 16, 16, '<circle cx="8" cy="8" r="7" fill="#ffffff" stroke="#9aa5b4" stroke-width="1.5"/>')
add("radio_button_yes", 16, 16, f'<circle cx="8" cy="8" r="7" fill="#ffffff" stroke="{BLUE}" stroke-width="1.5"/><circle cx="8" cy="8" r="3.5" fill="{BLUE}"/>')
add("select_disk", 16, 16, f'<circle cx="8" cy="8" r="7.5" fill="{BLUE}"/>' + place(glyph("check", "#ffffff", 3), 1, 1, 14))

# Backgrounds.
add("hover_bg", 400, 72, f'<rect x="0" y="0" width="400" height="72" rx="6" fill="#eef3fb"/>')
add("bg_tab", 100, 30, f'<rect x="0" y="0" width="100" height="30" fill="#eaf2fe"/><rect x="0" y="27" width="100" height="3" fill="{BLUE}"/>')
add("text_bg", 100, 30, f'<rect x="0" y="0" width="100" height="30" fill="#f2f4f7"/>')
add("bg_150", 150, 150, '<rect width="150" height="150" fill="#fafbfc"/>')
add("BackgroundDust", 32, 32,
    '<rect width="32" height="32" fill="#f4f5f7"/><circle cx="8" cy="8" r="1" fill="#e3e6ea"/><circle cx="24" cy="24" r="1" fill="#e3e6ea"/>')
add("view_bg_normal", 114, 94, f'<rect x="0.5" y="0.5" width="113" height="93" rx="6" fill="#ffffff" stroke="{LINE}"/>')
add("view_bg_press", 114, 94, f'<rect x="0.5" y="0.5" width="113" height="93" rx="6" fill="#eaf2fe" stroke="{BLUE}"/>')

# The empty-state arrow: points left, towards the trees.
add("arrow", 82, 39,
    f'<path d="M78 33 C60 33 40 28 22 14" fill="none" stroke="#9aa5b4" stroke-width="3" stroke-linecap="round"/>'
    f'<path d="M10 8 L26 7 L20 22 Z" fill="#9aa5b4"/>')

# The three ways the file list shows files: a list, a grid of tiles, and
# cover flow (a picture in front with others slanting away on each side).
GREY = "#4a5563"
add("view_mode_list", 16, 16,
    "".join(f'<rect x="1" y="{y}" width="2" height="2" fill="{GREY}"/>'
            f'<rect x="5" y="{y}" width="10" height="2" fill="{GREY}"/>' for y in (2, 7, 12)))
add("view_mode_grid", 16, 16,
    "".join(f'<rect x="{x}" y="{y}" width="6" height="6" rx="1" fill="{GREY}"/>'
            for x in (1, 9) for y in (1, 9)))
add("view_mode_coverflow", 16, 16,
    f'<rect x="5" y="2" width="6" height="12" rx="1" fill="{GREY}"/>'
    f'<path d="M1 4 L4 3 L4 13 L1 12 Z" fill="{GREY}"/><path d="M15 4 L12 3 L12 13 L15 12 Z" fill="{GREY}"/>')

# Marks and alerts.
add("deletered", 16, 16, '<circle cx="8" cy="8" r="7" fill="#e5484d"/><path d="M4.5 8 H11.5" stroke="#ffffff" stroke-width="2" stroke-linecap="round"/>')
add("warning_b", 64, 64,
    '<path d="M32 6 L60 56 H4 Z" fill="#f5a524" stroke="#f5a524" stroke-width="4" stroke-linejoin="round"/>'
    '<path d="M32 24 V40" stroke="#ffffff" stroke-width="5" stroke-linecap="round"/><circle cx="32" cy="48" r="3" fill="#ffffff"/>')

# Thumbnails: the waiting picture and the program's mark.
add("loading.png", 90, 90,
    f'<rect x="1" y="1" width="88" height="88" rx="8" fill="#f4f5f7" stroke="{LINE}" stroke-width="2"/>'
    f'<circle cx="45" cy="45" r="16" fill="none" stroke="{LINE}" stroke-width="5"/>'
    f'<path d="M45 29 A16 16 0 0 1 61 45" fill="none" stroke="{BLUE}" stroke-width="5" stroke-linecap="round"/>')
add("logo", 90, 90,
    f'<rect x="8" y="18" width="74" height="54" rx="10" fill="{BLUE}"/>'
    f'<circle cx="45" cy="45" r="17" fill="none" stroke="#ffffff" stroke-width="5"/>'
    f'<path d="M45 28 L45 20 M38 24 L45 18 L52 24" fill="none" stroke="#ffffff" stroke-width="4" stroke-linecap="round" stroke-linejoin="round"/>')

# The system volume's disk: a disk with the accent dot.
add("icon_disk_osx", 32, 32,
    '<rect x="3" y="8" width="26" height="18" rx="3" fill="#dfe3e8" stroke="#7e8fa4" stroke-width="1.5"/>'
    f'<rect x="6" y="19" width="14" height="3" rx="1.5" fill="#7e8fa4"/><circle cx="24" cy="13" r="3" fill="{BLUE}"/>')

# The windows' own close, minimise and zoom buttons (14 points).
# Grey glyphs on a light disc; under the pointer the disc takes the action's
# colour.
for kind, g, color in (("close", "close", "#e5484d"), ("minimize", "minus", "#7e8fa4"), ("zoom", "plus", "#7e8fa4")):
    add(f"win_{kind}", 14, 14, '<circle cx="7" cy="7" r="6.5" fill="#eef0f3"/>' + place(glyph(g, "#5b6878", 3.0), 1.5, 1.5, 11))
    add(f"win_{kind}_rollover", 14, 14, f'<circle cx="7" cy="7" r="6.5" fill="{color}"/>' + place(glyph(g, "#ffffff", 3.0), 1.5, 1.5, 11))
    add(f"win_{kind}_inactive", 14, 14, '<circle cx="7" cy="7" r="6" fill="#dcdfe4" stroke="#c2c6cc"/>')


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else OUT
    for name, text in sorted(IMAGES.items()):
        with open(os.path.join(out, name + ".svg"), "w", encoding="utf-8") as fh:
            fh.write(text)
    print(f"{len(IMAGES)} pictures written to {out}")


if __name__ == "__main__":
    main()
