#!/usr/bin/env python3
"""Show every class of the quillmarkers_model widget kit in one dark window and save a
screenshot of the screen: ``python tools/kit_showcase.py [PATH]`` (default shots/kit.png).

Run it on a virtual display, for example
``xvfb-run -a -s "-screen 0 1280x900x24 -dpi 96" .venv/bin/python tools/kit_showcase.py shots/kit.png``.
"""

import pathlib
import subprocess
import sys

import customtkinter

import quillmarkers_model as quillmarkers

REPO = pathlib.Path(__file__).resolve().parent.parent
PICTURES = REPO / "modules" / "GUI" / "格式範本"


def build(app):
    kit = quillmarkers.Customtkinter_Model()
    app.grid_columnconfigure((0, 1), weight=1)

    items = customtkinter.CTkFrame(app)
    items.grid(row=0, column=0, columnspan=2, padx=16, pady=(16, 8), sticky="nw")
    table = kit.Entry_Table(items)
    for title, width in [("商品名稱", 200), ("商品數量", 100), ("商品單價", 100)]:
        table.add_entry_name(title, width)
    table.add_entry_name("商品總額", 200, state="disabled")
    table.add_table(7)
    keys = table.name_to_random_string
    for row, (name, quantity, price) in enumerate([("原子筆（藍）", "12", "15"), ("A4 影印紙", "3", "135"), ("資料夾", "20", "8")]):
        for title, text in [("商品名稱", name), ("商品數量", quantity), ("商品單價", price)]:
            table.entry[keys[title]][row].insert(0, text)
        table.entry[keys["商品總額"]][row][0].set(f"{int(quantity) * int(price)} 元")

    buyer = customtkinter.CTkFrame(app, width=395)
    buyer.grid(row=1, column=0, padx=16, pady=8, sticky="nw")
    fields = kit.Set_Table(buyer)
    fields.add_entry_name("買受人").insert(0, "王小明商行")
    fields.add_entry_name("統一編號").insert(0, "12345678")

    toolbar = customtkinter.CTkFrame(app)
    toolbar.grid(row=2, column=0, padx=16, pady=8, sticky="nw")
    buttons = kit.Set_Button()
    for picture, padx in [("資料夾.png", (178, 55)), ("日曆001.png", (128, 105)), ("問號001.png", (78, 155))]:
        buttons.add_button(toolbar, image_path=str(PICTURES / picture), button_event=lambda: None, size=(25, 25),
                           padx=padx, row=0, column=0, fg_color="transparent")
    output = customtkinter.CTkFrame(app)
    output.grid(row=3, column=0, padx=16, pady=8, sticky="nw")
    buttons.add_button(output, button_name="輸出單據", text="輸出單據", button_event=lambda: None,
                       padx=50, pady=10, sticky="", width=140)
    buttons.configure("輸出單據", text="輸出中..")

    date = customtkinter.CTkFrame(app, width=250, height=250)
    date.grid(row=1, column=1, rowspan=3, padx=16, pady=8, sticky="nw")
    date.grid_propagate(False)
    date.grid_columnconfigure(0, weight=1)
    calendar = kit.CTkCalendar(date, calendar_button=True)
    calendar.grid(row=0, column=0, sticky="new")
    day = calendar.get_day()
    calendar.data["日曆按鈕"][f"{day['年']}-{day['月']}-{day['日']}"].configure(fg_color="#3B8ED0")


def main(argv):
    out = pathlib.Path(argv[1] if len(argv) > 1 else "shots/kit.png")
    out.parent.mkdir(parents=True, exist_ok=True)
    customtkinter.set_appearance_mode("dark")
    customtkinter.set_default_color_theme("blue")
    app = customtkinter.CTk()
    app.title("quillmarkers_model")
    app.geometry("+0+0")
    build(app)

    def shoot():
        # Park the pointer off the window so no button shows its hover colour.
        app.event_generate("<Motion>", warp=True, x=app.winfo_width() + 300, y=app.winfo_height() + 200)
        app.update()
        subprocess.run(["import", "-window", "root", str(out)], check=True)
        app.destroy()

    app.after(1500, shoot)
    app.mainloop()
    print(out)


if __name__ == "__main__":
    main(sys.argv)
