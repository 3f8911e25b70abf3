"""`receiptora install-launchers`: menu entries with icons for 收據 (the receipt window), 賣方資料 and 收據簿
(the book), in the user's freedesktop folders ($XDG_DATA_HOME, default ~/.local/share)."""
import importlib.util
import os
import shutil
import subprocess
import sys
from pathlib import Path

ICON_SIZES = (48, 64, 128, 256)
LAUNCHERS = (
    # file name, icon name, menu name, comment, command arguments
    ("receiptora.desktop", "receiptora", "收據", "開立免用統一發票收據 (Receiptora)", []),
    ("receiptora-book.desktop", "receiptora-book", "收據簿", "收據的清單、列印、作廢、匯出與月報表 (Receiptora)",
     ["book"]),
    ("receiptora-profile.desktop", "receiptora", "賣方資料", "修改收據上的商號、統一編號與印章 (Receiptora)",
     ["profile"]),
)


def data_home():
    folder = os.environ.get("XDG_DATA_HOME", "")
    # XDG_DATA_HOME counts only when it is absolute; a relative value is ignored.
    return Path(folder) if os.path.isabs(folder) else Path.home() / ".local" / "share"


def exec_quote(argument):
    """One argument of an Exec line: quoted when it holds a reserved character, '%' doubled."""
    argument = argument.replace("%", "%%")
    if not any(c in argument for c in " \t\n\"'\\><~|&;$*?#()`="):
        return argument
    for c in "\\\"`$":
        argument = argument.replace(c, "\\" + c)
    return f'"{argument}"'


def command_path():
    """The installed `receiptora` command beside this interpreter, else the one on PATH."""
    beside = Path(sys.executable).with_name("receiptora")
    if beside.is_file():
        return str(beside)
    found = shutil.which("receiptora")
    if found is None:
        raise FileNotFoundError("找不到已安裝的 receiptora 指令")
    return os.path.abspath(found)


def icon_sources():
    window = importlib.util.find_spec("GUI")
    if window is None or window.origin is None:
        raise FileNotFoundError("收據視窗模組 GUI 沒有安裝")
    return {"receiptora": Path(window.origin).parent / "格式範本" / "logo.png",
            "receiptora-book": Path(__file__).with_name("icons") / "receiptora-book.png"}


def write_atomically(path, data):
    path.parent.mkdir(parents=True, exist_ok=True)
    temporary = path.with_name(f".{path.name}.tmp")
    temporary.write_bytes(data)
    os.replace(temporary, path)


def entry(name, comment, icon, command):
    # StartupWMClass is the window's class (its Tk class): a dock matches the window to its entry.
    return (f"[Desktop Entry]\nType=Application\nVersion=1.0\nName={name}\nComment={comment}\n"
            f"Exec={' '.join(exec_quote(a) for a in command)}\nIcon={icon}\nTerminal=false\n"
            f"Categories=Office;Finance;\nStartupWMClass={icon}\n")


def install(folder=None):
    """Writes the icons and the entries; returns the paths written."""
    from PIL import Image

    root = Path(folder) if folder else data_home()
    command = command_path()
    written = []
    for icon, source in icon_sources().items():
        with Image.open(source) as picture:
            picture = picture.convert("RGBA")
            for size in ICON_SIZES:
                path = root / "icons" / "hicolor" / f"{size}x{size}" / "apps" / f"{icon}.png"
                resized = picture.resize((size, size), Image.LANCZOS)
                path.parent.mkdir(parents=True, exist_ok=True)
                resized.save(path.with_name(f".{path.name}.tmp"), format="PNG")
                os.replace(path.with_name(f".{path.name}.tmp"), path)
                written.append(path)
    for file_name, icon, name, comment, arguments in LAUNCHERS:
        path = root / "applications" / file_name
        write_atomically(path, entry(name, comment, icon, [command, *arguments]).encode("utf-8"))
        written.append(path)
    if shutil.which("update-desktop-database"):
        subprocess.run(["update-desktop-database", str(root / "applications")], capture_output=True, check=False)
    return written


def add_arguments(parser):
    parser.add_argument("--data-home", metavar="FOLDER",
                        help="安裝到這個資料夾，而不是 $XDG_DATA_HOME（預設 ~/.local/share） · "
                             "instead of $XDG_DATA_HOME (default ~/.local/share)")


def run(args):
    try:
        written = install(args.data_home)
    except OSError as error:
        print(f"receiptora: 無法安裝選單項目：{error}", file=sys.stderr)
        return 1
    for path in written:
        if path.suffix == ".desktop":
            print(f"已安裝 {path}")
    print("「收據」與「收據簿」已加入桌面的應用程式選單（辦公）。")
    return 0
