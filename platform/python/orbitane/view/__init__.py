"""Collections as interactive pages: one self-contained HTML file, drawn in the browser with three.js.

``to_html(collection, path)`` writes the page; ``python -m orbitane view INPUT.orb -o OUTPUT.html``
does the same from the command line. The page needs no network and no server: the rendering
library, the page's code and the collection's vertex data (binary, base64) are all inside it.
Every element is drawn with its style as the collection's style sheets resolve it
(``orbitane.styles.resolve_styles``).
"""

import os

from .. import _plugin
from ..formats.atomic import replacing
from . import appearance, page, scene


def to_html(collection, path, title=None):
    """Writes ``collection`` as a self-contained HTML page to ``path`` (replaced atomically).

    ``title`` defaults to the file's name without its extension. Returns ``path``.
    """
    anatomy = _plugin("orbitane.anatomy")
    if not isinstance(collection, anatomy.AnatomicalStructureCollection):
        raise TypeError(f"to_html() needs an AnatomicalStructureCollection, not {type(collection).__name__}")
    if title is None:
        title = os.path.splitext(os.path.basename(os.fspath(path)))[0]
    renderer = page.renderer_source()
    description, geometry = scene.build(collection, appearance.supported_kinds(anatomy.StyleProperty))
    text = page.render(str(title), description, geometry, renderer)
    with replacing(os.fspath(path)) as temporary, open(temporary, "w", encoding="utf-8") as file:
        file.write(text)
    return path
