"""The `receiptora` command."""
import sys


def main(argv=None):
    print("Receiptora: the receipt window is not built yet.", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
