// The profile form (`receiptora profile`, and before the first receipt window): the shop's
// details in a small window, saved to 賣方資料.toml with the file's comments kept.
#include <pybind11/pybind11.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "receiptora/receipt_texts.hpp"
#include "receiptora/store/profile.hpp"
#include "receiptora/store/profile_edit.hpp"
#include "receiptora/store/suggestions.hpp"
#include "receiptora/tax_id.hpp"
#include "receiptora/whole_number.hpp"
#include "receiptora_py/convert.hpp"
#include "receiptora_py/ctk_window.hpp"
#include "receiptora_py/picture.hpp"
#include "dialogs.hpp"
#include "registration.hpp"

namespace py = pybind11;
namespace store = receiptora::store;
using namespace pybind11::literals;

namespace receiptora_shop {

namespace {

using Member = std::string store::SellerDetails::*;

constexpr std::array<std::pair<const char*, Member>, 5> kTexts = {{
    {"商號名稱", &store::SellerDetails::name},
    {"統一編號", &store::SellerDetails::tax_id},
    {"負責人", &store::SellerDetails::owner},
    {"地址", &store::SellerDetails::address},
    {"電話", &store::SellerDetails::phone},
}};
constexpr std::size_t kTaxId = 1;
constexpr std::array<std::pair<const char*, Member>, 2> kPictures = {{
    {"免用統一發票章圖檔", &store::SellerDetails::exemption_stamp_image},
    {"負責人章圖檔", &store::SellerDetails::owner_seal_image},
}};
constexpr int kPreviewHeight = 64;

// The note beside 統一編號, as the operator types.
std::string tax_id_note(const std::string& text) {
  if (text.empty()) return "八位數字，可留空";
  return receiptora::valid_tax_id(text) ? "✓ 統一編號正確" : "✗ 須為八位數字且檢查碼正確";
}

// The widgets one form shares between its handlers. The handlers hold it and the widgets
// hold the handlers, a cycle Python's collector cannot see: clear() ends it when the form closes.
struct Form {
  py::object ctk, app, tax_id, tax_note, auto_print, standard, status;
  std::array<py::object, kTexts.size()> texts;
  std::array<py::object, kPictures.size()> pictures, previews;
  store::fs::path folder;
  std::unique_ptr<store::SuggestionBook> suggestions;
  bool saved = false;

  void clear() {
    ctk = app = tax_id = tax_note = auto_print = standard = status = py::object();
    suggestions.reset();
    texts = {};
    pictures = previews = {};
  }
};

std::string text_of(py::handle entry) { return py::str(entry.attr("get")().attr("strip")()); }

void say(Form& form, const std::string& message) { form.status.attr("configure")("text"_a = message); }

void show_preview(Form& form, std::size_t i) {
  std::string path = text_of(form.pictures[i]);
  py::object preview = form.previews[i];
  if (path.empty()) {
    preview.attr("configure")("image"_a = py::none(), "text"_a = "（未選圖檔：收據上畫出文字章）");
    return;
  }
  store::fs::path file(path);
  if (file.is_relative()) file = form.folder / file;
  try {
    py::object image =
        receiptora_py::read_picture(py::module_::import("PIL.Image"), py::str(file.string()),
                                    [](py::handle opened) { return opened.attr("convert")("RGBA"); });
    const auto size = image.attr("size").cast<std::pair<int, int>>();
    const int width = std::max(1, std::min(160, kPreviewHeight * size.first / std::max(1, size.second)));
    py::object picture = form.ctk.attr("CTkImage")("light_image"_a = image, "dark_image"_a = image,
                                                   "size"_a = py::make_tuple(width, kPreviewHeight));
    preview.attr("configure")("image"_a = picture, "text"_a = "");
  } catch (py::error_already_set&) {
    preview.attr("configure")("image"_a = py::none(), "text"_a = "無法讀取這個圖檔");
  }
}

// Where the picker starts: the folder of the picture named now, else the pictures folder
// (XDG's, then ~/Pictures or ~/圖片), else home; never the folder the program was started in.
std::string picker_folder(Form& form, std::size_t i) {
  std::error_code ec;
  const std::string current = text_of(form.pictures[i]);
  if (!current.empty()) {
    store::fs::path file(current);
    if (file.is_relative()) file = form.folder / file;
    if (store::fs::is_directory(file.parent_path(), ec)) return file.parent_path().string();
  }
  py::object os = py::module_::import("os");
  const store::fs::path pictures(
      py::str(os.attr("environ").attr("get")("XDG_PICTURES_DIR", "")).cast<std::string>());
  const store::fs::path home(py::str(os.attr("path").attr("expanduser")("~")).cast<std::string>());
  for (const store::fs::path& folder : {pictures, home / "Pictures", home / "圖片"})
    if (!folder.empty() && folder.is_absolute() && store::fs::is_directory(folder, ec))
      return folder.string();
  return home.string();
}

// A picture inside the output folder is kept as a path relative to it, so the folder can be
// moved or backed up whole; any other picture keeps its full path.
std::string stored_path(const Form& form, const std::string& chosen) {
  std::error_code ec;
  const store::fs::path folder = store::fs::weakly_canonical(form.folder, ec);
  const store::fs::path file = store::fs::weakly_canonical(chosen, ec);
  const store::fs::path relative = file.lexically_relative(folder);
  if (ec || relative.empty() || *relative.begin() == "..") return chosen;
  return relative.string();
}

void choose_picture(Form& form, std::size_t i) {
  use_taiwan_dialogs(form.app);
  py::object chosen =
      py::module_::import("tkinter.filedialog")
          .attr("askopenfilename")("parent"_a = form.app, "title"_a = kPictures[i].first,
                                   "initialdir"_a = picker_folder(form, i),
                                   "filetypes"_a = py::make_tuple(py::make_tuple("PNG 圖檔", "*.png")));
  if (!py::isinstance<py::str>(chosen) || py::len(chosen) == 0) return;
  form.pictures[i].attr("delete")(0, "end");
  form.pictures[i].attr("insert")(0, stored_path(form, chosen.cast<std::string>()));
  form.pictures[i].attr("xview_moveto")(1.0);  // a long path shows its file name, not its start
  show_preview(form, i);
}

// Saves what is typed; a mistake or a failed save is said in the form, and nothing typed is lost.
void save(Form& form) {
  store::ProfileValues values;
  for (std::size_t i = 0; i < kTexts.size(); ++i) values.seller.*kTexts[i].second = text_of(form.texts[i]);
  for (std::size_t i = 0; i < kPictures.size(); ++i)
    values.seller.*kPictures[i].second = text_of(form.pictures[i]);
  if (!values.seller.tax_id.empty() && !receiptora::valid_tax_id(values.seller.tax_id))
    return say(form, "統一編號不正確：須為八位數字且檢查碼正確");
  values.auto_print = form.auto_print.attr("get")().cast<int>() == 1;
  // Core's figure reader, as the batch's sheets are read: 200000, 200,000 or ２００，０００.
  const auto amount = receiptora::parse_figure(receiptora_py::to_u32(form.standard.attr("get")()));
  if (!amount || *amount <= 0 || !amount->fits_slong_p())
    return say(form, "使用統一發票標準須為大於 0 的整數（元），例如 200000 或 200,000");
  values.invoice_standard = amount->get_si();
  try {
    py::gil_scoped_release released;
    store::save_profile(form.folder, values);
  } catch (const std::exception& error) {
    return say(form, std::string("無法儲存：") + error.what());
  }
  form.saved = true;
  form.app.attr("destroy")();
}

py::object label(Form& form, py::handle parent, const std::string& text) {
  return form.ctk.attr("CTkLabel")(parent, "text"_a = text);
}

void grid(py::handle widget, int row, int column, int span = 1, const char* sticky = "w") {
  widget.attr("grid")("row"_a = row, "column"_a = column, "columnspan"_a = span, "sticky"_a = sticky,
                      "padx"_a = 10, "pady"_a = 3);
}

// The buyers and items the operator hid from the receipt window's suggestions (Delete on
// one), each with 「恢復」, which suggests it again. Nothing when none is hidden.
void add_hidden_suggestions(Form& form, const std::weak_ptr<Form>& weak, int& row) {
  using Kind = store::SuggestionKind;
  std::vector<std::pair<Kind, store::Suggestion>> hidden;
  form.suggestions = std::make_unique<store::SuggestionBook>(form.folder);
  try {
    for (Kind kind : {Kind::Buyer, Kind::Item})
      for (store::Suggestion& s : form.suggestions->hidden(kind)) hidden.emplace_back(kind, std::move(s));
  } catch (const std::exception& error) {
    grid(label(form, form.app, error.what()), row++, 0, 3);
    return;
  }
  if (hidden.empty()) return;
  grid(label(form, form.app, "不再建議的買受人與品項"), row++, 0, 3);
  py::object box = hidden.size() > 5 ? form.ctk.attr("CTkScrollableFrame")(form.app, "height"_a = 150)
                                     : form.ctk.attr("CTkFrame")(form.app, "fg_color"_a = "transparent");
  grid(box, row++, 0, 3, "we");
  int line = 0;
  for (auto& [kind, suggestion] : hidden) {
    const std::string shown = (kind == Kind::Buyer ? "買受人　" : "品項　") + suggestion.name +
                              (suggestion.detail.empty() ? "" : "（" + suggestion.detail + "）");
    py::object text = label(form, box, shown);
    text.attr("grid")("row"_a = line, "column"_a = 0, "sticky"_a = "w", "padx"_a = 6);
    py::object button = form.ctk.attr("CTkButton")(box, "text"_a = "恢復", "width"_a = 60);
    button.attr("grid")("row"_a = line++, "column"_a = 1, "sticky"_a = "e", "padx"_a = 6, "pady"_a = 2);
    button.attr("configure")("command"_a = py::cpp_function([weak, kind, suggestion, text = py::weakref(text),
                                                             button = py::weakref(button)] {
                               auto form = weak.lock();
                               if (!form || !form->app || !form->suggestions) return;
                               try {
                                 form->suggestions->set_hidden(kind, suggestion.name, suggestion.detail,
                                                               false);
                               } catch (const std::exception& error) {
                                 return say(*form, std::string("無法恢復：") + error.what());
                               }
                               for (const py::object& gone : {text(), button()})
                                 if (!gone.is_none()) gone.attr("destroy")();
                             }));
  }
}

void build(const std::shared_ptr<Form>& shared, const store::ProfileRead& current, bool first_start) {
  Form& form = *shared;
  std::weak_ptr<Form> weak = shared;
  auto handler = [weak](auto action) {
    return py::cpp_function([weak, action](py::args) {
      if (auto form = weak.lock(); form && form->app) action(*form);
    });
  };
  form.app.attr("title")("賣方資料 · 收據");
  form.app.attr("resizable")(false, false);
  use_taiwan_dialogs(form.app);  // Ctrl+A selects all and a paste inserts text, in every field
  int row = 0;
  if (first_start) {
    py::object welcome = label(
        form, form.app, "歡迎！請填寫印在每張收據上的商號資料。可以先略過，之後從選單的「賣方資料」修改。");
    welcome.attr("configure")("wraplength"_a = 460, "justify"_a = "left");
    grid(welcome, row++, 0, 3);
  }
  for (std::size_t i = 0; i < kTexts.size(); ++i) {
    grid(label(form, form.app, kTexts[i].first), row, 0);
    // 統一編號 is checked as it is typed or pasted: its text variable reports every change.
    if (i == kTaxId) form.tax_id = form.ctk.attr("StringVar")("master"_a = form.app);
    form.texts[i] = i == kTaxId
                        ? form.ctk.attr("CTkEntry")(form.app, "width"_a = 330, "textvariable"_a = form.tax_id)
                        : form.ctk.attr("CTkEntry")(form.app, "width"_a = 330);
    form.texts[i].attr("insert")(0, current.seller.*kTexts[i].second);
    grid(form.texts[i], row++, 1, 2, "we");
    if (i == kTaxId) {
      form.tax_note = label(form, form.app, tax_id_note(current.seller.tax_id));
      grid(form.tax_note, row++, 1, 2);
      form.tax_id.attr("trace_add")("write", handler([](Form& f) {
                                      const std::string typed = text_of(f.texts[kTaxId]);
                                      f.tax_note.attr("configure")("text"_a = tax_id_note(typed));
                                      // The error said on 儲存 goes once the number is fixed.
                                      if (f.status && (typed.empty() || receiptora::valid_tax_id(typed)))
                                        say(f, "");
                                    }));
    }
  }
  for (std::size_t i = 0; i < kPictures.size(); ++i) {
    grid(label(form, form.app, kPictures[i].first), row, 0);
    form.pictures[i] = form.ctk.attr("CTkEntry")(form.app, "width"_a = 240);
    // A picture inside the output folder is shown (and kept) by its short relative path.
    const std::string& picture = current.seller.*kPictures[i].second;
    form.pictures[i].attr("insert")(0, picture.empty() ? picture : stored_path(form, picture));
    form.pictures[i].attr("xview_moveto")(1.0);
    form.pictures[i].attr("bind")("<FocusOut>", handler([i](Form& f) { show_preview(f, i); }));
    grid(form.pictures[i], row, 1);
    py::object pick =
        form.ctk.attr("CTkButton")(form.app, "text"_a = "選擇…", "width"_a = 80,
                                   "command"_a = handler([i](Form& f) { choose_picture(f, i); }));
    grid(pick, row++, 2);
    form.previews[i] = label(form, form.app, "");
    grid(form.previews[i], row++, 1, 2);
    show_preview(form, i);
  }
  form.auto_print =
      form.ctk.attr("CTkCheckBox")(form.app, "text"_a = "自動列印（每張收據存檔後送到預設印表機）");
  if (current.auto_print) form.auto_print.attr("select")();
  grid(form.auto_print, row++, 0, 3);
  grid(label(form, form.app, "使用統一發票標準"), row, 0);
  form.standard = form.ctk.attr("CTkEntry")(form.app, "width"_a = 160);
  form.standard.attr("insert")(0, std::to_string(current.invoice_standard));
  form.standard.attr("bind")("<KeyRelease>", handler([](Form& f) { say(f, ""); }));
  grid(form.standard, row, 1);
  grid(label(form, form.app, "元／月"), row++, 2);
  add_hidden_suggestions(form, weak, row);
  form.status = form.ctk.attr("CTkLabel")(form.app, "text"_a = "", "text_color"_a = "#ff6b6b");
  grid(form.status, row++, 0, 3);
  py::object buttons = form.ctk.attr("CTkFrame")(form.app, "fg_color"_a = "transparent");
  grid(buttons, row, 0, 3, "e");
  py::object close = handler([](Form& f) { f.app.attr("destroy")(); });
  form.ctk
      .attr("CTkButton")(buttons, "text"_a = first_start ? "略過" : "取消", "width"_a = 90,
                         "command"_a = close)
      .attr("pack")("side"_a = "left", "padx"_a = 6);
  form.ctk
      .attr("CTkButton")(buttons, "text"_a = "儲存", "width"_a = 90,
                         "command"_a = handler([](Form& f) { save(f); }))
      .attr("pack")("side"_a = "left", "padx"_a = 6);
  form.app.attr("protocol")("WM_DELETE_WINDOW", close);
  form.texts[0].attr("focus_set")();
}

// Opens the form on the profile of `folder` and returns once it is closed: True when saved.
bool profile_form(const store::fs::path& folder, bool first_start) {
  store::ProfileRead current;
  {
    py::gil_scoped_release released;
    current = store::read_profile(folder);  // a first start creates the commented template here
  }
  auto form = std::make_shared<Form>();
  form->folder = folder;
  form->ctk = py::module_::import("customtkinter");
  form->ctk.attr("set_appearance_mode")("dark");                    // as the receipt window
  form->app = form->ctk.attr("CTk")("className"_a = "receiptora");  // the 收據 launcher's class
  try {
    build(form, current, first_start);
    form->app.attr("mainloop")();
  } catch (...) {
    try {
      form->app.attr("destroy")();
    } catch (py::error_already_set&) {
    }
    receiptora_py::forget_closed_window(form->ctk, form->app);
    form->clear();
    throw;
  }
  // The receipt window may open next in this process: nothing of the form may run in it.
  receiptora_py::forget_closed_window(form->ctk, form->app);
  const bool saved = form->saved;
  form->clear();
  return saved;
}

// Whether `folder`'s profile names the shop: without a 商號名稱 nothing is issued, so the app
// opens the form before the receipt window. Reads only; a missing profile is not made here.
bool shop_named(const store::fs::path& folder) {
  py::gil_scoped_release released;
  std::error_code ec;
  if (!store::fs::exists(store::fs::symlink_status(folder / std::string(store::kProfileName), ec)))
    return false;
  return !receiptora::blank_text(store::read_profile(folder).seller.name);
}

}  // namespace

void register_profile_form(py::module_& m) {
  m.def("shop_named", &shop_named, py::arg("folder"),
        "True when folder/賣方資料.toml gives the shop's 商號名稱 (nothing is issued without it).");
  m.def("profile_form", &profile_form, py::arg("folder"), py::arg("first_start") = false,
        "Opens the 賣方資料 form on folder/賣方資料.toml; returns True when the operator saved it.");
}

}  // namespace receiptora_shop
