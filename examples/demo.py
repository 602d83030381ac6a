"""A first look at orbitane.anatomy: what the module holds once it is imported.

Run it with tools/demo, which builds the project first.
"""

import inspect
import sys

import orbitane
import orbitane.anatomy as anatomy


def public_members(module):
    return [(name, value) for name, value in vars(module).items() if not name.startswith("_")]


def show_module_contents():
    members = public_members(anatomy)
    exceptions = [n for n, v in members if inspect.isclass(v) and issubclass(v, BaseException)]
    classes = [n for n, v in members if inspect.isclass(v) and n not in exceptions]
    functions = [n for n, v in members if callable(v) and not inspect.isclass(v)]

    print(f"{anatomy.__name__} ({anatomy.__file__})")
    doc = anatomy.__doc__ or ""
    title = doc.strip().splitlines()[0] if doc.strip() else "-"
    print(f"  documentation: {len(doc)} characters, title {title!r}")
    print(f"  classes ({len(classes)}): {', '.join(sorted(classes)) or '-'}")
    print(f"  functions ({len(functions)}): {', '.join(sorted(functions)) or '-'}")
    for name in exceptions:
        cls = getattr(anatomy, name)
        print(f"  exception: {cls.__module__}.{cls.__qualname__} (base {cls.__base__.__name__})")


def show_key_tree():
    prefix = orbitane.__name__ + ".keys."
    keys = sorted(name for name in sys.modules if name.startswith(prefix))
    depth = max((name[len(prefix):].count(".") + 1 for name in keys), default=0)
    print(f"  anatomical key tree: {len(keys)} modules under {prefix[:-1]}, {depth} levels deep")
    if hasattr(orbitane, "keys") and hasattr(orbitane.keys, "spine"):
        print(f"    for example orbitane.keys.spine.key = {orbitane.keys.spine.key!r}")


def main():
    show_module_contents()
    show_key_tree()


if __name__ == "__main__":
    main()
