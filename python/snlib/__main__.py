"""Runs a program with sn:// known to pyserial, for a build tree or a
Python where the handler is not installed beside pyserial:

    python3 -m snlib SCRIPT [ARGS...]
    python3 -m snlib -m MODULE [ARGS...]     e.g. -m serial.tools.miniterm
"""

import os
import runpy
import sys

import snlib  # noqa: F401  (registers sn:// with pyserial)


def main(argv):
    """Runs the script or module named in argv as __main__."""
    if len(argv) >= 2 and argv[0] == "-m":
        sys.argv = argv[1:]
        runpy.run_module(argv[1], run_name="__main__", alter_sys=True)
    elif argv and not argv[0].startswith("-"):
        sys.argv = argv
        sys.path.insert(0, os.path.dirname(os.path.abspath(argv[0])))  # as python3 SCRIPT does
        runpy.run_path(argv[0], run_name="__main__")
    else:
        sys.stderr.write(__doc__.split("\n\n", 1)[1])
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
