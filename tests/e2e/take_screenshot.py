"""Takes the pictures of the program for docs/: a folder open, a document in the
editor, and optionally the preview beside it, the dark theme, or the notice of
a change made by another program, or the notice offering texts an earlier
launch left unsaved. Not a test; run it by hand after building:

    python3 tests/e2e/take_screenshot.py build/bin/quillmarsh-test docs/quillmarsh.png
    python3 tests/e2e/take_screenshot.py build/bin/quillmarsh-test docs/preview.png preview
    python3 tests/e2e/take_screenshot.py build/bin/quillmarsh-test docs/dark.png preview dark
    python3 tests/e2e/take_screenshot.py build/bin/quillmarsh-test docs/conflict.png conflict
    python3 tests/e2e/take_screenshot.py build/bin/quillmarsh-test docs/settings.png settings
    python3 tests/e2e/take_screenshot.py build/bin/quillmarsh-test docs/pictures.png pictures
    python3 tests/e2e/take_screenshot.py build/bin/quillmarsh-test docs/recovery.png recovery
"""

import json
import os
import struct
import sys
import zlib
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import Desktop, Program, wait_until  # noqa: E402

DOCUMENTS = {
    "Garden plan.md": """# Garden plan

Spring beds, from the shed towards the pond.

## Vegetables

- Broad beans along the north fence
- Two rows of early potatoes
- Lettuce between the rows, sown every three weeks

## Flowers

Sweet peas up the old ladder; marigolds at the ends of every bed
to keep the aphids busy.

> Water in the evening, never at noon.
""",
    "Reading list.md": "# Reading list\n\n1. The long way round\n2. Notes from a small marsh\n",
    "Ideas/Bird feeder.md": "# Bird feeder\n\nCedar, a copper roof, a tray that slides out for cleaning.\n",
    "Ideas/Workshop.md": "# Workshop\n\nShelves over the bench; a pegboard for the hand tools.\n",
    "Recipes/Nettle soup.md": "# Nettle soup\n\nYoung tops only, gloves on.\n",
}


def garden_picture(width=480, height=200):
    """A PNG of beds in rows under a sky, drawn here so the pictures need no files."""
    rows = []
    for y in range(height):
        row = bytearray(b"\x00")
        for x in range(width):
            if y < height * 0.4:
                shade = int(60 * y / (height * 0.4))
                pixel = (150 + shade // 2, 190 + shade // 3, 235)
            elif (x // 40) % 2 == 0 and (y // 12) % 2 == 0:
                pixel = (70, 140, 60)
            else:
                pixel = (120, 90, 60)
            row += bytes(pixel)
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"".join(rows))) + chunk(b"IEND", b""))


def running_version():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "..", "resources", "editor", "version.json")) as info:
        return json.load(info).get("version", "")


def main(program_path, picture, options=()):
    desktop = Desktop(width=1400, height=900)
    program = None
    try:
        folder = os.path.join(desktop.home, "Field Notes")
        for name, text in DOCUMENTS.items():
            path = os.path.join(folder, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as out:
                out.write(text)
        if "pictures" in options:
            os.makedirs(os.path.join(folder, "assets"))
            with open(os.path.join(folder, "assets", "beds.png"), "wb") as out:
                out.write(garden_picture())
            with open(os.path.join(folder, "Garden plan.md"), "a") as out:
                out.write("\n![The beds in April](assets/beds.png)\n\n![The pond](assets/pond.png)\n")
        support = os.path.join(desktop.data, "Quillmarsh")
        os.makedirs(support, exist_ok=True)
        # No news of this version and no question about updates in the pictures.
        with open(os.path.join(support, "settings.json"), "w") as out:
            json.dump({"seenVersion": running_version(), "updates": "off", "autosaveDefault": False}, out)
        with open(os.path.join(support, "recent.json"), "w") as out:
            out.write('[{"kind": "folder", "path": "%s", "bookmark": ""}]' % folder)

        if "recovery" in options:
            # What a launch that ended before saving leaves behind: one text of a
            # document of the folder, one never saved anywhere.
            kept = os.path.join(support, "recovery")
            os.makedirs(kept, mode=0o700)
            entries = {
                "r-garden-plan": {"name": "Garden plan.md", "base": "", "location": os.path.join(folder, "Garden plan.md"),
                                  "text": DOCUMENTS["Garden plan.md"] + "\nPlant the garlic in October.\n",
                                  "savedAt": int(time.time()) - 180},
                "r-untitled-1": {"name": "Untitled.md", "base": "", "text": "# Seed swap\n\nBring labelled envelopes.\n",
                                 "savedAt": int(time.time()) - 60},
            }
            for entry_id, entry in entries.items():
                with open(os.path.join(kept, entry_id + ".json"), "w") as out:
                    json.dump(entry, out)

        env = {"GTK_THEME": "Adwaita:dark"} if "dark" in options else None
        program = Program(desktop, program_path, env=env)
        window = program.wait_for_window("Quillmarsh")
        driver = program.connect()
        driver.execute("window.Quillmarsh.menuRun('m1.3.1')")
        wait_until(lambda: driver.execute("return document.querySelector('#tree li[data-folder=\"Ideas\"]') !== null"),
                   what="the folder's documents")
        driver.execute("document.querySelector('#tree li[data-folder=\"Ideas\"]').click()")
        # Two tabs, the garden plan shown.
        for name in ("Reading list.md", "Garden plan.md"):
            item = f"#tree li[data-path='{name}']"
            wait_until(lambda: driver.execute(f"return document.querySelector(\"{item}\") !== null"), what=name)
            driver.execute(f"document.querySelector(\"{item}\").click()")
            wait_until(lambda: driver.execute(f"return document.querySelector('#tabs .tab.active[data-path=\"{name}\"]') !== null"),
                       what=f"{name} in the editor")
        if "preview" in options or "pictures" in options:
            driver.execute("window.Quillmarsh.menuRun('m3.6')")
            wait_until(lambda: driver.execute("return document.querySelector('#preview h1') !== null"), what="the preview")
        if "conflict" in options:
            driver.execute("document.querySelector('#editor .cm-content').focus()")
            program.activate(window)
            program.key(window, "ctrl+End")
            desktop.xdotool("type", "--delay", "20", "Plant the garlic in October.")
            with open(os.path.join(folder, "Garden plan.md"), "a") as out:
                out.write("\nThe hedge needs cutting before May.\n")
            program.key(window, "ctrl+s")
            wait_until(lambda: driver.execute("return !document.getElementById('notice').hidden"), what="the notice")
        if "pictures" in options:
            wait_until(lambda: driver.execute("return [...document.querySelectorAll('#preview img')]"
                                              ".some(i => i.src.startsWith('blob:') && i.complete && i.naturalWidth > 0)"),
                       what="the picture in the preview")
            driver.execute("document.querySelector('#preview img').scrollIntoView({block: 'center'})")
        if "settings" in options:
            driver.execute("setTimeout(() => window.Quillmarsh.settings())")
            wait_until(lambda: driver.execute("return !!document.querySelector('#dialog-layer .settings')"),
                       what="the settings dialog")
        if "recovery" in options:
            wait_until(lambda: driver.execute("return document.querySelectorAll('#recovery li').length === 2"),
                       what="the recovery notice")
        program.activate(window)
        program.page_picture(window, picture)  # waits until the page has painted
        desktop.run(["import", "-window", window, picture])
    finally:
        if program:
            program.close()
        desktop.close()


if __name__ == "__main__":
    if len(sys.argv) < 3 or not set(sys.argv[3:]) <= {"preview", "dark", "conflict", "settings", "pictures", "recovery"}:
        sys.exit("usage: take_screenshot.py PROGRAM PICTURE.png [preview] [dark] [conflict] [settings] [pictures] [recovery]")
    main(sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3:])
