"""The command line: ``python -m orbitane COMMAND``, or ``orbitane COMMAND`` when installed.

Exit status 0 on success, 1 with a one-line message when a file cannot be read or written, and
2 for bad arguments (argparse).
"""

import argparse
import sys

from . import cohort, labelmap, shape_model, view

_COMMANDS = (labelmap, cohort, shape_model, view)


def parser(prog=None):
    top = argparse.ArgumentParser(prog=prog or "orbitane", description="Orbitane on files.")
    commands = top.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for command in _COMMANDS:
        command.add_to(commands)
    return top


def main(argv=None, prog=None):
    top = parser(prog)
    arguments = top.parse_args(argv)
    try:
        return arguments.run(arguments)
    except (OSError, ValueError, RuntimeError, ImportError) as error:
        message = " ".join(str(error).split()) or type(error).__name__
        print(f"{top.prog} {arguments.command}: error: {message}", file=sys.stderr)
        return 1
