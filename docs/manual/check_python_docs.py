"""Fails when a public name of the Python package has no docstring, or a
module of it has no section in the reference (python-api.rst).

    check_python_docs.py PACKAGE_FOLDER

Imports the package as the manual's build does, with the frameworks that the
adapters build on mocked when they are not installed (conf.py names them), and
prints one line for each name that lacks its documentation."""
import importlib
import importlib.util
import inspect
import os
import pkgutil
import runpy
import sys

from sphinx.ext.autodoc.mock import mock

HERE = os.path.dirname(os.path.abspath(__file__))


def public_members(module):
    """The classes and functions a module defines, whose names are public."""
    names = getattr(module, "__all__", None) or [name for name in vars(module) if not name.startswith("_")]
    for name in names:
        value = getattr(module, name)
        if (inspect.isclass(value) or inspect.isfunction(value)) and value.__module__ == module.__name__:
            yield name, value


def methods_of(cls):
    """The public methods and properties a class itself defines."""
    for name, value in vars(cls).items():
        if name.startswith("_"):
            continue
        if isinstance(value, property):
            yield name, value.fget
        elif isinstance(value, (classmethod, staticmethod)):
            yield name, value.__func__
        elif inspect.isfunction(value):
            yield name, value


def undocumented(package_name, reference_text):
    package = importlib.import_module(package_name)
    modules = [package] + [importlib.import_module(info.name)
                           for info in pkgutil.walk_packages(package.__path__, package_name + ".")
                           if not info.name.rsplit(".", 1)[1].startswith("_")]
    for module in modules:
        if f".. automodule:: {module.__name__}\n" not in reference_text:
            yield f"{module.__name__}: no section in python-api.rst"
        if not inspect.getdoc(module):
            yield f"{module.__name__}: no module docstring"
        for name, value in public_members(module):
            if not inspect.getdoc(value):
                yield f"{module.__name__}.{name}"
            if inspect.isclass(value):
                for method, function in methods_of(value):
                    if not (function.__doc__ or "").strip():
                        yield f"{module.__name__}.{name}.{method}"


def main():
    sys.path.insert(0, sys.argv[1])
    os.environ.setdefault("VAREK_VERSION", "0")
    os.environ.setdefault("VAREK_PYTHON_SOURCE", sys.argv[1])
    os.environ.setdefault("VAREK_DOXYGEN_HTML", HERE)
    settings = runpy.run_path(os.path.join(HERE, "conf.py"))
    with open(os.path.join(HERE, "python-api.rst")) as file:
        reference = file.read()
    missing_modules = [name for name in settings["autodoc_mock_imports"]
                       if importlib.util.find_spec(name.split(".")[0]) is None]
    with mock(missing_modules):
        missing = list(undocumented("varek", reference))
    for line in missing:
        print(f"undocumented: {line}")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
