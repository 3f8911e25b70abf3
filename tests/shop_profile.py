"""The seller profile every shop fills before its first receipt (nothing is issued without the
shop's 商號名稱): the tests' output folders get it before they issue."""
from pathlib import Path

PROFILE = "賣方資料.toml"
SHOP = '"商號名稱" = "山海文具行"\n"統一編號" = "22099131"\n"負責人" = "林小明"\n"地址" = "臺北市中正區重慶南路一段 122 號"\n'


def named_shop(folder, profile_text=SHOP):
    """`folder` as a shop's output folder: made if missing, with a profile naming the shop (SHOP:
    every field the 專用章 carries) unless it has a profile already. Returns the folder as a Path."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    profile = folder / PROFILE
    if not profile.is_symlink() and not profile.exists():
        profile.write_text(profile_text, encoding="utf-8")
    return folder
