"""``python3 -m cdt report [--set [--time TIME]] PATH... [-o DIR] [--encoding NAME]``: quick-look
pages of recordings and recording sets."""

import sys


def _main(argv):
    if not argv or argv[0] in ("-h", "--help"):
        print("usage: python3 -m cdt report FILE... [-o DIR] [--encoding NAME]\n"
              "       python3 -m cdt report --set DIR_OR_FILE... [--time TIME] [-o DIR] "
              "[--encoding NAME]\n\n"
              "Commands:\n  report    one quick-look HTML page per recording (NAME.html), "
              "or per recording set")
        return 0 if argv else 2
    if argv[0] != "report":
        print(f"python3 -m cdt: unknown command {argv[0]!r} (commands: report)", file=sys.stderr)
        return 2
    from .report.command import main

    return main(argv[1:])


if __name__ == "__main__":
    sys.exit(_main(sys.argv[1:]))
