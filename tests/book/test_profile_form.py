"""The 賣方資料 form: typed details saved to the profile with its comments kept, 統一編號
checked as typed, a wrong value said in the form without losing what was typed."""
import tkinter
import tkinter.filedialog

import customtkinter
import pytest

from receiptora import _shop

pytestmark = pytest.mark.gui

PNG = bytes.fromhex("89504e470d0a1a0a0000000d49484452000000010000000108060000001f15c489"
                    "0000000d49444154789c63f8cfc0f01f00050001ff89993d1d0000000049454e44ae426082")  # 1×1 red


def widgets(root, kind):
    found = []
    for child in root.winfo_children():
        if isinstance(child, kind):
            found.append(child)
        found += widgets(child, kind)
    return found


def run_form(monkeypatch, folder, scenario, first_start=False):
    """Opens the form; scenario(app, entries, labels, buttons) runs inside its event loop."""
    def mainloop(app, *args, **kwargs):
        app.update()
        try:
            scenario(app, widgets(app, customtkinter.CTkEntry), widgets(app, customtkinter.CTkLabel),
                     {b.cget("text"): b for b in widgets(app, customtkinter.CTkButton)})
        finally:
            try:
                app.destroy()
            except tkinter.TclError:
                pass  # saving closed the form already

    monkeypatch.setattr(customtkinter.CTk, "mainloop", mainloop)
    return _shop.profile_form(folder, first_start)


def type_into(entry, text):
    entry.delete(0, "end")
    entry.insert(0, text)


def texts(labels):
    return [label.cget("text") for label in labels]


def test_typed_details_are_saved_with_the_comments_kept(monkeypatch, tmp_path):
    (tmp_path / "seal.png").write_bytes(PNG)
    notes = []

    def scenario(app, entries, labels, buttons):
        name, tax_id, owner, address, phone, stamp, seal, standard = entries
        type_into(name, "林記茶行")
        name._entry.focus_force()
        name._entry.icursor(2)
        name._entry.event_generate("<Control-a>")  # as on Windows: selects all, not the line start
        notes.append(name._entry.selection_present() and name._entry.index("sel.last") == 4)
        type_into(tax_id, "12345678")
        notes.append(texts(labels))
        type_into(tax_id, "22099131")
        notes.append(texts(labels))
        type_into(owner, "林大明")
        type_into(seal, "seal.png")
        type_into(standard, "300,000")  # a figure as the batch's sheets take it
        buttons["儲存"].invoke()

    assert run_form(monkeypatch, tmp_path, scenario) is True
    assert notes[0] is True, "Ctrl+A selects the whole field"
    assert "✗ 須為八位數字且檢查碼正確" in notes[1] and "✓ 統一編號正確" in notes[2]
    text = (tmp_path / "賣方資料.toml").read_text(encoding="utf-8")
    assert "# 商號名稱（店名）\n\"商號名稱\" = \"林記茶行\"\n" in text
    assert "\"統一編號\" = \"22099131\"" in text and "\"負責人章圖檔\" = \"seal.png\"" in text
    assert "\"使用統一發票標準\" = 300000" in text


def test_a_wrong_value_is_said_and_nothing_typed_is_lost(monkeypatch, tmp_path):
    seen = {}

    def scenario(app, entries, labels, buttons):
        type_into(entries[0], "林記茶行")
        type_into(entries[1], "1234")
        buttons["儲存"].invoke()
        seen["labels"], seen["name"] = texts(widgets(app, customtkinter.CTkLabel)), entries[0].get()
        type_into(entries[1], "22099131")  # fixed: the error goes
        seen["fixed"] = texts(widgets(app, customtkinter.CTkLabel))

    assert run_form(monkeypatch, tmp_path, scenario) is False
    assert "統一編號不正確：須為八位數字且檢查碼正確" in seen["labels"]
    assert "統一編號不正確：須為八位數字且檢查碼正確" not in seen["fixed"]
    assert seen["name"] == "林記茶行"
    assert "林記茶行" not in (tmp_path / "賣方資料.toml").read_text(encoding="utf-8")


def test_first_start_can_be_skipped_and_leaves_the_commented_template(monkeypatch, tmp_path):
    def scenario(app, entries, labels, buttons):
        assert any(t.startswith("歡迎！") for t in texts(labels))
        buttons["略過"].invoke()

    assert run_form(monkeypatch, tmp_path / "new", scenario, first_start=True) is False
    assert (tmp_path / "new" / "賣方資料.toml").read_text(encoding="utf-8").startswith("# 賣方資料：")


@pytest.mark.parametrize("inside", [True, False])
def test_the_picker_starts_in_the_pictures_folder_and_keeps_a_picture_of_the_folder_relative(
        monkeypatch, tmp_path, inside):
    home, folder = tmp_path / "home", tmp_path / "home" / "quillmarkers" / "Receiptora"
    (home / "Pictures").mkdir(parents=True)
    folder.mkdir(parents=True)
    picture = (folder / "印章" if inside else home / "Pictures") / "seal.png"
    picture.parent.mkdir(exist_ok=True)
    picture.write_bytes(PNG)
    monkeypatch.setenv("HOME", str(home))
    monkeypatch.delenv("XDG_PICTURES_DIR", raising=False)
    asked, seen = {}, {}

    def askopenfilename(**options):
        asked.update(options)
        return str(picture)
    monkeypatch.setattr(tkinter.filedialog, "askopenfilename", askopenfilename)

    def scenario(app, entries, labels, buttons):
        [b for b in widgets(app, customtkinter.CTkButton) if b.cget("text") == "選擇…"][1].invoke()  # 負責人章
        seen["seal"] = entries[6].get()
        seen["open"] = app.tk.eval("namespace eval ::tk {::msgcat::mc {&Open}}")

    run_form(monkeypatch, folder, scenario)
    assert asked["initialdir"] == str(home / "Pictures")
    assert seen["seal"] == ("印章/seal.png" if inside else str(picture))
    assert seen["open"] == "開啟(&O)"  # Tk's own file dialog speaks Chinese
