"""``python3 -m cdt report FILE... [-o DIR] [--encoding NAME]``: quick-look pages of recordings."""

import sys


def _main(argv):
    if not argv or argv[0] in ("-h", "--help"):
        print("usage: python3 -m cdt report FILE... [-o DIR] [--encoding NAME]\n\n"
              "Commands:\n  report    one quick-look HTML page per recording (NAME.html)")
        return 0 if argv else 2
    if argv[0] != "report":
        print(f"python3 -m cdt: unknown command {argv[0]!r} (commands: report)", file=sys.stderr)
        return 2
    from .report.command import main

    return main(argv[1:])


if __name__ == "__main__":
    sys.exit(_main(sys.argv[1:]))
