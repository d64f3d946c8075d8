"""Says why the package's extension did not load, and what to do about it:
which Python it was built for, which one is running, and how to build it."""

import pathlib
import platform
import sys
import sysconfig

_HOW_TO_BUILD = (
    "Build and install it for this Python with `{python} -m pip install .` "
    "from the repository (add --no-build-isolation --no-index where no "
    "package index is reachable), or build the tree with `make test` and "
    "put build/default/python on PYTHONPATH.")


def describe(error):
    """Returns the text of the ImportError that replaces ``error``."""
    here = pathlib.Path(__file__).resolve().parent
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    running = (f"Python {platform.python_version()} ({sys.executable}, "
               f"extensions {suffix})")
    how = _HOW_TO_BUILD.format(python=sys.executable)
    try:
        from quorvel import _version
    except ImportError:
        return (f"quorvel at {here} is not built: there is no extension "
                f"beside its modules, as in the source tree. This is "
                f"{running}. {how}")
    # Python blames a circular import for a file that is not there; its
    # text is worth giving only when the file is there and fails to load.
    if (here / f"_quorvel{suffix}").exists():
        why = f"_quorvel{suffix} does not load ({error})"
    else:
        why = f"there is no _quorvel{suffix} for this Python"
    built = (f"Python {_version.PYTHON_VERSION} "
             f"({_version.PYTHON_EXECUTABLE}, extensions "
             f"{_version.EXTENSION_SUFFIX})")
    return (f"quorvel {_version.__version__} at {here}: {why}. It was built "
            f"for {built}; this is {running}. {how}")
