"""The collection page, checked in a real headless Chromium: colours from the style cascade where
each mesh projects, a structure hidden by a later rule, the side panel's click, and bad input."""

import json
import os
import re
import subprocess
import sys
import struct
import zlib

import numpy as np
import pytest

import orbitane
import orbitane.anatomy as anatomy
from orbitane import view
from orbitane.view import browser as chromium

RED, GREEN, BLUE = (1.0, 0.0, 0.0), (0.0, 0.8, 0.0), (0.0, 0.0, 1.0)
BACKGROUND = (0x1D, 0x1F, 0x24)


@pytest.fixture(scope="module")
def browser():
    if chromium.find_chromium() is None:
        pytest.skip("no Chromium on this machine (Debian package chromium); the page cannot be checked")
    with chromium.Browser(width=900, height=500) as b:
        yield b


def _cube(centre, half=10.0):
    corners = np.array([[x, y, z] for x in (-1, 1) for y in (-1, 1) for z in (-1, 1)], float) * half + centre
    faces = [[0, 1, 3], [0, 3, 2], [4, 6, 7], [4, 7, 5], [0, 4, 5], [0, 5, 1],
             [2, 3, 7], [2, 7, 6], [0, 2, 6], [0, 6, 4], [1, 5, 7], [1, 7, 3]]
    return orbitane.Mesh(corners, np.array(faces))


def _collection(structures):
    asc = anatomy.GenericASC()
    for identifier, elements in structures:
        s = anatomy.GenericAnatomicalStructure(identifier)
        for store, key, value in elements:
            getattr(s, store)[key] = value
        asc.add(s)
    asc.components.add(anatomy.ASCDisplayOptions())
    return asc


def _rule(asc, sheet, selector, **values):
    def declare(declaration):
        for name, value in values.items():
            declaration[name] = value
    asc.components.asc_display_options.get_or_append_style_sheet(sheet, None).append_or_modify(selector, declare)


def _paeth(a, b, c):
    p = a + b - c
    return a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c


def _pixels(png):
    """The RGB rows of a small non-interlaced 8-bit PNG, as Chromium writes screenshots."""
    chunks, at = {}, 8
    while at < len(png):
        length, kind = struct.unpack(">I4s", png[at:at + 8])
        chunks.setdefault(kind, []).append(png[at + 8:at + 8 + length])
        at += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][0][:10])
    assert depth == 8 and colour in (2, 6)
    n = 3 if colour == 2 else 4
    raw = zlib.decompress(b"".join(chunks[b"IDAT"]))
    stride, rows, above = width * n, [], [0] * (width * n)
    for y in range(height):
        kind, line, out = raw[y * (stride + 1)], raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)], []
        for x, value in enumerate(line):
            a, b, c = (out[x - n] if x >= n else 0), above[x], (above[x - n] if x >= n else 0)
            predictor = (0, a, b, (a + b) // 2, _paeth(a, b, c))[kind]
            out.append((value + predictor) & 0xFF)
        rows.append(out)
        above = out
    return np.array(rows).reshape(height, width, n)[..., :3]


def _colour_at(browser, world):
    """The screen's colour where a world point projects (one pixel, captured alone)."""
    x, y = browser.evaluate(f"window.orbitaneViewer.project({json.dumps(list(world))})")
    clip = {"x": round(x), "y": round(y), "width": 1, "height": 1, "scale": 1}
    return tuple(int(v) for v in _pixels(browser.screenshot(clip=clip))[0, 0])


def _close(pixel, rgb, tolerance=8):
    expected = [round(c * 255) for c in rgb] if max(rgb) <= 1 else rgb
    return all(abs(p - e) <= tolerance for p, e in zip(pixel, expected))


def _page(browser, tmp_path, asc, name="page"):
    path = tmp_path / f"{name}.html"
    view.to_html(asc, path)
    browser.open(path)
    chromium.wait_for_first_frame(browser)
    return path


def test_structures_show_their_resolved_colours_and_a_hidden_one_comes_back_on_click(browser, tmp_path):
    centres = {"left": (-40.0, 0.0, 0.0), "middle": (0.0, 0.0, 0.0), "right": (40.0, 0.0, 0.0)}
    asc = _collection([(name, [("meshes", "surface", _cube(c))]) for name, c in centres.items()])
    _rule(asc, "base", None, color=np.array([0.5, 0.5, 0.5]))
    _rule(asc, "base", "#left", color=np.array(RED))
    _rule(asc, "base", "#middle", color_surface=np.array(GREEN))
    _rule(asc, "base", "#right", color=np.array(BLUE))
    _rule(asc, "later", "#right", visibility=False)
    _page(browser, tmp_path, asc)

    front = {name: (c[0], c[1] - 10.0, c[2]) for name, c in centres.items()}  # the faces toward the camera
    assert _close(_colour_at(browser, front["left"]), RED)
    assert _close(_colour_at(browser, front["middle"]), GREEN)
    assert _close(_colour_at(browser, front["right"]), BACKGROUND)
    entries = browser.evaluate("[...document.querySelectorAll('#panel li.structure')].map("
                               "li => [li.textContent, li.firstChild.style.background])")
    assert entries == [["left", "rgb(255, 0, 0)"], ["middle", "rgb(0, 204, 0)"], ["right", "rgb(0, 0, 255)"]]

    x, y = browser.evaluate("(() => { const r = document.querySelectorAll('#panel li.structure')[2]"
                            ".getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()")
    browser.click(x, y)
    browser.evaluate("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
    assert _close(_colour_at(browser, front["right"]), BLUE)
    assert _close(_colour_at(browser, front["left"]), RED)


def _scene(path):
    text = path.read_text(encoding="utf-8")
    found = re.search(r'<script type="application/json" id="orbitane-scene">(.*?)</script>', text, re.S)
    return json.loads(found.group(1))


def test_bad_input_is_reported_on_the_page_and_never_breaks_it(browser, tmp_path):
    empty = _page(browser, tmp_path, anatomy.GenericASC(), "empty")
    assert _scene(empty)["structures"] == []
    assert browser.evaluate("document.getElementById('message').textContent") == "This collection holds no structures."

    broken = np.eye(3)
    broken[1, 2] = np.nan
    asc = _collection([("liver", [("meshes", "surface", _cube((0.0, 0.0, 0.0))),
                                  ("meshes", "broken", orbitane.Mesh(broken, np.array([[0, 1, 2]]))),
                                  ("keypoints2", "far", np.array([np.inf, 0.0, 0.0]))])])
    _rule(asc, "base", "#liver", color="red", alpha=0.5, line_width=3.0)
    orbitane.save(asc, str(tmp_path / "bad.orb"))  # the command line's page, from the collection as saved
    path = tmp_path / "bad.html"
    package = os.path.dirname(os.path.dirname(orbitane.__file__))
    done = subprocess.run([sys.executable, "-m", "orbitane", "view", str(tmp_path / "bad.orb"), "-o", str(path)],
                          capture_output=True, text=True, env={**os.environ, "PYTHONPATH": package})
    assert done.returncode == 0, done.stderr
    browser.open(path)
    chromium.wait_for_first_frame(browser)
    described = _scene(path)
    assert described["leftOut"] == ["liver · keypoints · far: non-finite coordinates",
                                    "liver · meshes · broken: non-finite coordinates"]
    assert described["ignored"] == ["liver · meshes · surface: color = 'red' ignored (expected 3 or 4 numbers)"]
    assert described["notShown"] == ["line_width"]
    (surface,) = described["structures"][0]["elements"]
    assert surface["surface"]["alpha"] == 0.5 and surface["key"] == "surface"
    panel = browser.evaluate("document.getElementById('panel').innerText")
    for line in described["leftOut"] + described["ignored"] + ["not shown: line_width"]:
        assert line in panel
    assert browser.evaluate("window.orbitaneViewer.frames") >= 1
