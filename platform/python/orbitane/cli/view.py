"""``view INPUT.orb -o OUTPUT.html``: a collection as one self-contained interactive page."""

from .. import _plugin, open as open_file


def add_to(commands):
    command = commands.add_parser(
        "view", help="write a collection as an interactive page that any browser opens from disk",
        description="Opens a collection (.orb) and writes it as one self-contained HTML file: every "
                    "structure drawn as its style sheets say, in a page that needs no network and no server.")
    command.add_argument("input", metavar="INPUT.orb", help="the collection")
    command.add_argument("-o", "--output", metavar="OUTPUT.html", required=True, help="the page to write")
    command.add_argument("--title", help="the page's title (default: the output's file name)")
    command.set_defaults(run=run)


def run(arguments):
    from .. import view

    anatomy = _plugin("orbitane.anatomy")
    collection = open_file(arguments.input)
    if not isinstance(collection, anatomy.AnatomicalStructureCollection):
        raise ValueError(f'"{arguments.input}" holds a {type(collection).__name__}, not a collection of structures')
    view.to_html(collection, arguments.output, title=arguments.title)
    print(f"wrote {arguments.output}")
    return 0
