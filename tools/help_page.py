"""Makes the installed help page: docs/help/index.md with the command table of the
`receiptora` command filled in, turned into one HTML page by cmark-gfm (tables on), readable
offline. Run by the build: python3 tools/help_page.py SOURCE.md OUTPUT.html CMARK_GFM"""
import html
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
MARKER = "<!-- commands:"
STYLE = """body{font-family:"Noto Sans CJK TC","AR PL UMing TW",sans-serif;max-width:56rem;margin:2rem auto;
padding:0 1rem;line-height:1.7;color:#1d1e1e}table{border-collapse:collapse;margin:1rem 0}
th,td{border:1px solid #c8ccd0;padding:.3rem .6rem;text-align:left;vertical-align:top}th{background:#eef1f4}
code{font-family:"DejaVu Sans Mono","Noto Sans Mono CJK TC","Noto Sans CJK TC",monospace;
background:#f2f4f6;padding:0 .2rem;border-radius:3px}h2{border-bottom:1px solid #dde1e5;padding-bottom:.2rem}"""


def command_rows():
    sys.path.insert(0, str(ROOT / "app"))
    from receiptora.__main__ import COMMANDS
    rows = [("receiptora", "開啟收據視窗 · the receipt window"),
            ("receiptora --standalone", "只開視窗：按「輸出單據」只印出收據請求 · the window alone")]
    rows += [(f"receiptora {c.name} {c.usage}".rstrip(), c.help) for c in COMMANDS]
    rows += [("receiptora --version", "顯示版本 · the version"),
             ("receiptora COMMAND --help", "每個指令的說明與選項 · each command's options")]
    return rows


def command_table():
    lines = ["| 指令 · command | 用途 · what it does |", "|---|---|"]
    for usage, text in command_rows():
        # A table cell's pipe is escaped, also inside a code span (GitHub's table extension).
        lines.append(f"| `{usage.replace('|', chr(92) + '|')}` | {text.replace('|', chr(92) + '|')} |")
    return "\n".join(lines)


def page(markdown, cmark):
    filled = "\n".join(command_table() if line.startswith(MARKER) else line for line in markdown.splitlines())
    body = subprocess.run([cmark, "--extension", "table", "--to", "html"], input=filled, capture_output=True,
                          text=True, check=True).stdout
    title = html.escape(markdown.splitlines()[0].lstrip("# ").strip())
    return (f'<!DOCTYPE html>\n<html lang="zh-Hant-TW">\n<head>\n<meta charset="utf-8">\n'
            f'<meta name="viewport" content="width=device-width, initial-scale=1">\n<title>{title}</title>\n'
            f"<style>{STYLE}</style>\n</head>\n<body>\n{body}</body>\n</html>\n")


if __name__ == "__main__":
    source, output, cmark = sys.argv[1:4]
    Path(output).parent.mkdir(parents=True, exist_ok=True)
    Path(output).write_text(page(Path(source).read_text(encoding="utf-8"), cmark), encoding="utf-8")
