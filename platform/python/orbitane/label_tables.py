"""Label names (and colours) for a label map: a JSON object or a colour table.

JSON: ``{"1": "Orbitane.Liver", ...}``. Colour table: lines ``value name r g b [a]`` with colour
components from 0 to 255 (a is the opacity, 255 when left out) and ``#`` starting a comment.
"""

import json
from typing import Dict, NamedTuple, Tuple


class LabelTable(NamedTuple):
    names: Dict[int, str]
    colours: Dict[int, Tuple[float, ...]]  # RGBA in [0, 1]


def _label_value(text, where):
    try:
        return int(text)
    except ValueError:
        raise ValueError(f"{where}: the label value {text!r} is not an integer") from None


def _from_json(document, path):
    if not isinstance(document, dict):
        raise ValueError(f'"{path}": a JSON label file holds one object {{"value": "name", ...}}')
    names = {}
    for key, name in document.items():
        if not isinstance(name, str) or not name:
            raise ValueError(f'"{path}": the name of label {key} is not a non-empty string')
        names[_label_value(key, f'"{path}"')] = name
    return LabelTable(names, {})


def _colour(fields, where):
    try:
        components = [int(field) for field in fields]
    except ValueError:
        raise ValueError(f"{where}: colour components are integers from 0 to 255") from None
    if any(not 0 <= c <= 255 for c in components):
        raise ValueError(f"{where}: colour components are integers from 0 to 255")
    if len(components) == 3:
        components.append(255)
    return tuple(c / 255.0 for c in components)


def _from_colour_table(text, path):
    names, colours = {}, {}
    for number, line in enumerate(text.splitlines(), start=1):
        fields = line.split("#", 1)[0].split()
        if not fields:
            continue
        where = f'"{path}", line {number}'
        if len(fields) not in (5, 6):
            raise ValueError(f"{where}: expected 'value name r g b [a]', found {len(fields)} fields")
        value = _label_value(fields[0], where)
        names[value] = fields[1]
        colours[value] = _colour(fields[2:], where)
    return LabelTable(names, colours)


def read_label_table(path):
    """The label names and colours of the file; ValueError naming the file and line for bad content."""
    with open(path, encoding="utf-8") as file:
        try:
            text = file.read()
        except UnicodeDecodeError as error:
            raise ValueError(f'"{path}": not a text file ({error.reason})') from None
    if text.lstrip().startswith("{"):
        try:
            document = json.loads(text)
        except json.JSONDecodeError as error:
            raise ValueError(f'"{path}": not valid JSON ({error})') from None
        return _from_json(document, path)
    return _from_colour_table(text, path)
