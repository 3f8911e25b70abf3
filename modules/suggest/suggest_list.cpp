#include "suggest_list.hpp"

#include <algorithm>

namespace quillmarkers::suggest {

namespace {

using namespace py::literals;

constexpr const char* kBackground = "#343638";  // the dark theme's entry colours
constexpr const char* kBorder = "#565B5E";
constexpr const char* kText = "#DCE4EE";
constexpr const char* kDetail = "#9EA3A8";
constexpr const char* kHighlight = "#1F6AA5";
constexpr int kMinWidth = 260;

struct List {
  py::object top = py::none();   // weakref of the Toplevel
  py::object text = py::none();  // weakref of its Text
  int line_height = 20;
  int screen_height = 1 << 20;
  int width = 0;  // the tab stop's width
  Owner owner;
  std::vector<Suggestion> rows;
  int current = -1;
  bool shown = false;
};

// Never destroyed: Python objects must not outlive the interpreter in a static destructor.
List& list() {
  static List* l = new List{};
  return *l;
}

py::object alive(const py::object& weak) { return weak.is_none() ? py::none() : weak(); }

void highlight(int index) {
  List& l = list();
  l.current = index;
  py::object text = alive(l.text);
  if (text.is_none()) return;
  text.attr("tag_remove")("current", "1.0", "end");
  if (index >= 0)
    text.attr("tag_add")("current", std::to_string(index + 1) + ".0", std::to_string(index + 2) + ".0");
}

int row_at(py::handle event) {
  py::object text = alive(list().text);
  if (text.is_none()) return -1;
  const std::string index = py::str(text.attr("index")("@" + py::str(event.attr("x")).cast<std::string>() +
                                                       "," + py::str(event.attr("y")).cast<std::string>()));
  const int line = std::stoi(index.substr(0, index.find('.')));
  return line >= 1 && line <= static_cast<int>(list().rows.size()) ? line - 1 : -1;
}

// The window, made once per Tk root: a Text whose rows are the suggestions, the detail
// right-aligned at a tab stop. It has no class bindings (no selection, never the focus).
py::object window_for(py::handle widget) {
  List& l = list();
  py::object root = widget.attr("_root")();
  py::object top = alive(l.top);
  if (!top.is_none() && top.attr("_root")().is(root)) return top;

  py::module_ tk = py::module_::import("tkinter");
  top = tk.attr("Toplevel")(root, "background"_a = kBorder);
  top.attr("withdraw")();
  top.attr("overrideredirect")(true);
  py::object text = tk.attr("Text")(
      top, "background"_a = kBackground, "foreground"_a = kText, "font"_a = widget.attr("cget")("font"),
      "borderwidth"_a = 0, "highlightthickness"_a = 0, "padx"_a = 8, "pady"_a = 3, "spacing1"_a = 3,
      "spacing3"_a = 3, "wrap"_a = "none", "cursor"_a = "hand2", "takefocus"_a = 0, "exportselection"_a = 0,
      "insertwidth"_a = 0, "width"_a = 1, "height"_a = 1);
  l.top = py::weakref(top);
  l.text = py::weakref(text);
  l.width = 0;
  l.shown = false;
  text.attr("pack")("fill"_a = "both", "expand"_a = true, "padx"_a = 1, "pady"_a = 1);
  text.attr("tag_configure")("detail", "foreground"_a = kDetail);
  text.attr("tag_configure")("current", "background"_a = kHighlight, "foreground"_a = "white");
  text.attr("tag_raise")("current");
  text.attr("bindtags")(py::make_tuple(text.attr("_w"), top.attr("_w"), "all"));
  text.attr("bind")("<Motion>", py::cpp_function([](py::object event) { highlight(row_at(event)); }));
  text.attr("bind")("<ButtonPress-1>", py::cpp_function([](py::object event) {
                      if (int index = row_at(event); index >= 0) take(index);
                      return py::str("break");
                    }));
  // A click elsewhere in the window, or the window moving or minimized, closes the list.
  root.attr("bind")("<ButtonPress>", py::cpp_function([](py::object) { hide(); }), "+");
  for (const char* change : {"<Configure>", "<Unmap>"})
    root.attr("bind")(change, py::cpp_function([root_weak = py::weakref(root)](py::object event) {
                        py::object widget = event.attr("widget");
                        if (widget.is(root_weak())) hide();
                      }),
                      "+");
  const py::object linespace =
      text.attr("tk").attr("call")("font", "metrics", text.attr("cget")("font"), "-linespace");
  l.line_height = py::int_(linespace).cast<int>() + 6;  // with spacing1 and spacing3
  l.screen_height = root.attr("winfo_screenheight")().cast<int>();
  return top;
}

}  // namespace

void show(const Owner& owner, std::vector<Suggestion> rows) {
  py::object widget = owner.widget();
  if (widget.is_none() || rows.empty()) return hide();
  List& l = list();
  py::object top = window_for(widget);
  py::object text = alive(l.text);
  l.owner = owner;
  l.rows = std::move(rows);

  py::object field = widget.attr("master");  // the CTkEntry around the Tk entry
  const int width = std::max(kMinWidth, field.attr("winfo_width")().cast<int>());
  if (width != l.width) {
    text.attr("configure")("tabs"_a = py::make_tuple(width - 20, "right"));
    l.width = width;
  }
  py::list parts;  // one insert for every row: text, tags, text, tags …
  for (size_t i = 0; i < l.rows.size(); ++i) {
    parts.append(l.rows[i].name + "\t");
    parts.append(py::tuple());
    parts.append(l.rows[i].detail + (i + 1 < l.rows.size() ? "\n" : ""));
    parts.append("detail");
  }
  text.attr("delete")("1.0", "end");
  text.attr("insert")("end", *parts);
  l.current = -1;
  const int height = static_cast<int>(l.rows.size()) * l.line_height + 8;
  const int x = field.attr("winfo_rootx")().cast<int>();
  const int top_of_field = field.attr("winfo_rooty")().cast<int>();
  int y = top_of_field + field.attr("winfo_height")().cast<int>() + 2;
  if (y + height > l.screen_height && top_of_field - height - 2 >= 0) y = top_of_field - height - 2;  // above
  top.attr("geometry")(std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) + "+" +
                       std::to_string(y));
  if (!l.shown) {
    top.attr("deiconify")();
    top.attr("lift")();
    l.shown = true;
  }
}

void hide() {
  List& l = list();
  l.current = -1;
  l.rows.clear();
  l.owner = Owner{};
  if (!l.shown) return;
  l.shown = false;
  if (py::object top = alive(l.top); !top.is_none()) top.attr("withdraw")();
}

bool is_list_window(py::handle widget) {
  const List& l = list();
  py::object top = alive(l.top), text = alive(l.text);
  return (!top.is_none() && top.is(widget)) || (!text.is_none() && text.is(widget));
}

bool showing_for(py::handle widget) {
  const List& l = list();
  return l.shown && l.owner.widget && l.owner.widget().is(widget);
}

void move(int step) {
  const int count = static_cast<int>(list().rows.size());
  if (count == 0) return;
  int next = list().current + step;
  if (next >= count) next = count - 1;
  if (next < -1) next = -1;
  highlight(next);
}

int highlighted() { return list().current; }
int count() { return static_cast<int>(list().rows.size()); }
const Owner& owner() { return list().owner; }

const Suggestion& row(int index) { return list().rows.at(static_cast<size_t>(index)); }

void remove(int index) {
  List& l = list();
  std::vector<Suggestion> rows = l.rows;
  rows.erase(rows.begin() + index);
  const Owner owner = l.owner;
  const int keep = std::min(index, static_cast<int>(rows.size()) - 1);
  show(owner, std::move(rows));
  if (keep >= 0) highlight(keep);
}

void take(int index) {
  List& l = list();
  const Suggestion chosen = row(index);
  const Owner owner = l.owner;
  hide();
  owner.take(chosen.name, chosen.detail);
  if (py::object widget = owner.widget(); !widget.is_none()) {
    widget.attr("_receiptora_seen") = widget.attr("get")();  // the taken text is no new typing
    widget.attr("focus_set")();                              // the keyboard stays where the operator types
  }
}

}  // namespace quillmarkers::suggest
