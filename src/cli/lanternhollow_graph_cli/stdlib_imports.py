"""The import graph of this interpreter's standard library, read from its source files.

A sample graph that needs no data: every module is a node, and every import
statement an edge from the importing module to the imported one.
"""

import ast
import os
import sys
import sysconfig

SKIP_DIRS = {"site-packages", "dist-packages", "__pycache__", "test", "tests", "idle_test"}


def stdlib_root():
    return sysconfig.get_paths()["stdlib"]


def describe(root):
    return f"imports of the standard library of Python {sys.version.split()[0]} in {root}"


def stdlib_modules(root):
    """Dotted module name -> source path, for every .py file under root."""
    modules = {}
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = sorted(d for d in dirnames if d not in SKIP_DIRS and not d.startswith("."))
        rel = os.path.relpath(dirpath, root)
        package = [] if rel == "." else rel.split(os.sep)
        if package and not os.path.exists(os.path.join(dirpath, "__init__.py")):
            dirnames[:] = []
            continue
        for filename in sorted(filenames):
            if not filename.endswith(".py"):
                continue
            stem = filename[:-3]
            parts = package if stem == "__init__" else package + [stem]
            if parts and all(p.isidentifier() for p in parts):
                modules[".".join(parts)] = os.path.join(dirpath, filename)
    return modules


def import_edges(modules):
    """(importer, imported) for every import statement, relative ones resolved.

    `from package import name` also gives an edge to package.name when that is
    a module of its own.
    """
    edges = []
    for name, path in modules.items():
        try:
            with open(path, "rb") as f:
                tree = ast.parse(f.read(), path)
        except (SyntaxError, ValueError, OSError):
            continue
        is_package = path.endswith("__init__.py")
        package = name if is_package else name.rpartition(".")[0]
        for node in ast.walk(tree):
            if isinstance(node, ast.Import):
                edges.extend((name, alias.name) for alias in node.names)
            elif isinstance(node, ast.ImportFrom):
                if node.level:
                    base = package.split(".") if package else []
                    base = base[: len(base) - (node.level - 1)] if node.level > 1 else base
                    target = ".".join(base + ([node.module] if node.module else []))
                else:
                    target = node.module or ""
                if not target:
                    continue
                edges.append((name, target))
                for alias in node.names:
                    if f"{target}.{alias.name}" in modules:
                        edges.append((name, f"{target}.{alias.name}"))
    return edges


def stdlib_import_edges(root=None):
    return import_edges(stdlib_modules(root or stdlib_root()))
