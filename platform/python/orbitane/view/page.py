"""The page itself: one HTML file that carries its rendering library, its code and its data."""

import base64
import html
import json
import os

_HERE = os.path.dirname(os.path.abspath(__file__))
RENDERER = os.path.join(_HERE, "three.js")
RENDERER_LICENSE = os.path.join(_HERE, "three.LICENSE.txt")


def _read(path):
    with open(path, encoding="utf-8") as file:
        return file.read()


def renderer_source():
    """The bundled rendering library; a clear error where this installation was built without it."""
    if not os.path.isfile(RENDERER):
        raise RuntimeError(
            f"orbitane.view cannot write pages: its rendering library ({RENDERER}) is missing. The build "
            "fetches three.js with npm; this installation was built where npm was not found. Rebuild "
            "with Node.js and npm on the PATH.")
    return _read(RENDERER)


def _inline_script(text):
    # the one sequence that would end a script element early; "<\/" means the same in JavaScript
    return text.replace("</script", "<\\/script").replace("</SCRIPT", "<\\/SCRIPT")


def render(title, description, geometry, renderer):
    """The complete HTML text of the page, around the rendering library's source."""
    licence = _read(RENDERER_LICENSE) if os.path.isfile(RENDERER_LICENSE) else ""
    data = json.dumps({"title": title, **description}, separators=(",", ":"), allow_nan=False)
    return "".join([
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n",
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n",
        f"<title>{html.escape(title)}</title>\n<style>\n{_read(os.path.join(_HERE, 'page.css'))}</style>\n",
        "</head>\n<body>\n",
        "<aside id=\"panel\"></aside><main id=\"view\"><div id=\"labels\"></div><div id=\"tip\" hidden></div>"
        "<p id=\"message\" hidden></p></main>\n",
        f"<script type=\"application/json\" id=\"orbitane-scene\">{_inline_script(data)}</script>\n",
        "<script type=\"application/octet-stream\" id=\"orbitane-geometry\">",
        base64.b64encode(geometry).decode("ascii"), "</script>\n",
        f"<!-- three.js, under its licence:\n{licence.replace('--', '- -')}-->\n",
        f"<script>\n{_inline_script(renderer)}\n</script>\n",
        f"<script>\n{_inline_script(_read(os.path.join(_HERE, 'page.js')))}</script>\n",
        "</body>\n</html>\n",
    ])
