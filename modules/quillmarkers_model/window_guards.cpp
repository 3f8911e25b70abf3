// Guards for the operator's slips around the receipt window, which itself stays as it is: a
// badge naming the receipt day while it is not today, a toast over the window's lower edge
// with what became of each press, Ctrl+N (a new receipt), Ctrl+A (select all), a paste that
// only ever inserts text, and the buyer's 統一編號 checked as it is typed. The host turns them
// on (guard_slips) before the window is built; the kit's tables then hand over their entries,
// and the first one installs the rest on its window. Nothing here polls at idle: the toast
// looks for the worker's answer only while a request is outstanding.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit.hpp"
#include "receiptora/month_grid.hpp"
#include "receiptora/receipt_texts.hpp"
#include "receiptora/tax_id.hpp"
#include "receiptora_py/guards.hpp"
#include "window_guards.hpp"

namespace quillmarkers {

namespace {

using namespace py::literals;
using receiptora::CalendarDate;

constexpr const char* kGuardsAttribute = "_receiptora_guards";
constexpr int kToastMilliseconds = 6000;
// A message that asks for a decision (「作廢這張」 on a flagged or duplicate receipt) stays long
// enough to be read and acted on.
constexpr int kDecisionToastMilliseconds = 20000;
constexpr int kAnswerPollMilliseconds = 100;
constexpr double kAnswerPatienceSeconds = 120;  // an answer lost (a worker gone) stops the poll
constexpr size_t kToastLines = 3;

const char* const kBadgeColour = "#C0392B";
const char* const kToastColour = "#1F3A5F";
const char* const kWarningColour = "#7A4A00";
const char* const kTaxIdGood = "#2E8B57";
const char* const kTaxIdBad = "#D03B3B";

// Tk's own bindings changed once per interpreter: Control-a selects all (as on Windows, not the
// line start of Emacs), and a paste inserts text only: a clipboard that offers no text type (a
// picture copied from a receipt) inserts nothing, where Tk would insert a hex dump of it.
constexpr const char* kKeysScript = R"tcl(
namespace eval ::receiptora {}
if {[tk windowingsystem] eq "x11"} {
  event delete <<LineStart>> <Control-Key-a> <Control-Lock-Key-A>
}
event add <<SelectAll>> <Control-Key-a> <Control-Lock-Key-A>
proc ::receiptora::ClipboardText {w} {
  if {[tk windowingsystem] ne "x11"} { return [clipboard get -displayof $w] }
  set targets {}
  catch {set targets [selection get -displayof $w -selection CLIPBOARD -type TARGETS]}
  set text {}
  foreach type {UTF8_STRING STRING} {
    if {$targets ne {} && [lsearch -exact $targets $type] < 0} continue
    if {![catch {selection get -displayof $w -selection CLIPBOARD -type $type} text]} { return $text }
  }
  return -code error "no text on the clipboard"
}
proc ::receiptora::Paste {w} {
  if {[catch {::receiptora::ClipboardText $w} text]} return
  catch { $w delete sel.first sel.last }
  $w insert insert $text
  tk::EntrySeeInsert $w
}
bind Entry <<Paste>> {::receiptora::Paste %W; break}
)tcl";

struct Settings {
  bool on = false;
  py::list answers;  // the worker's answers not yet shown (appended on its thread, GIL held)
  int outstanding = 0;
  double waited_since = 0;
  bool polling = false;
  std::weak_ptr<struct Guards> window;  // the guarded window that shows them
};

// Never destroyed: Python objects must not outlive the interpreter in a static destructor.
Settings& settings() {
  static Settings* s = new Settings();
  return *s;
}

double monotonic() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void guarded(const char* where, const std::function<void()>& step) {
  receiptora_py::on_exception(
      step, [&](py::handle error) { log_error(std::string("window guards ") + where, error); });
}

std::string day_text(const CalendarDate& day) {
  const auto roc = receiptora::roc_date(day.year, day.month, day.day);
  return roc ? receiptora::roc_day_text(*roc) : "";
}

struct Guards : std::enable_shared_from_this<Guards> {
  py::object root;
  py::object buyer = py::none(), tax_id = py::none();
  py::list cells;  // the item table's typed cells, row by row
  py::object badge = py::none(), toast = py::none(), toast_timer = py::none(), midnight_timer = py::none();
  py::object date_switch = py::none();  // the date switch's variable, once found
  py::list lines;                       // the toast's messages shown, oldest first
  CalendarDate opened{};                // the receipt's day until a calendar chooses one
  bool installed = false;

  void release() {
    root = buyer = tax_id = badge = toast = toast_timer = midnight_timer = date_switch = py::none();
    cells = lines = py::list();
  }

  // The day the window's calendar holds (the refresh copies it into the receipt), else the
  // day the window opened on.
  CalendarDate day_in_force() const {
    CalendarDate day = opened;
    receiptora_py::silently([&] {
      py::object window_module = py::module_::import("sys").attr("modules").attr("get")("GUI");
      if (window_module.is_none()) return;
      py::object calendar = py::getattr(window_module, "calendar", py::none());
      if (calendar.is_none()) return;
      py::dict chosen = calendar.attr("get_day")();
      day = {chosen["年"].cast<int>(), chosen["月"].cast<int>(), chosen["日"].cast<int>()};
    });
    return day;
  }

  bool date_printed() const {
    bool on = true;
    receiptora_py::silently([&] {
      if (!date_switch.is_none()) on = py::str(date_switch.attr("get")()).cast<std::string>() == "on";
    });
    return on;
  }

  // Installed when the event loop starts, after the window is built: the badge right of the
  // date switch (placed, so no control moves; the output button sits below), the keys, and a
  // look at the day at every midnight.
  void install() {
    if (installed || root.is_none()) return;
    installed = true;
    auto self = shared_from_this();
    taiwan_habits(root);
    root.attr("bind")("<Control-n>", py::cpp_function([self](py::object) { self->new_receipt(); }));
    root.attr("bind")("<Control-N>", py::cpp_function([self](py::object) { self->new_receipt(); }));
    root.attr("bind")("<Control-t>", py::cpp_function([self](py::object) { self->choose_today(); }));
    py::object found = find_date_switch(root);
    if (!found.is_none()) {
      date_switch = found.attr("_variable");
      if (!date_switch.is_none())
        date_switch.attr("trace_add")("write", py::cpp_function([self](py::args) { self->show_day(); }));
      badge = py::module_::import("tkinter").attr("Label")(
          found.attr("master"), "fg"_a = "white", "bg"_a = kBadgeColour, "cursor"_a = "hand2",
          "font"_a = kit_font(11, "bold"), "padx"_a = 4, "pady"_a = 1);
      badge.attr("bind")("<Button-1>", py::cpp_function([self](py::object) { self->choose_today(); }));
      badge_anchor = found;
    }
    show_day();
  }
  py::object badge_anchor = py::none();

  static py::object find_date_switch(py::handle widget) {
    py::object ctk_switch = ctk().attr("CTkSwitch");
    py::list pending;
    pending.append(widget);
    while (py::len(pending) > 0) {
      py::object next = pending.attr("pop")();
      if (py::isinstance(next, ctk_switch)) return next;
      for (py::handle child : next.attr("winfo_children")()) pending.append(child);
    }
    return py::none();
  }

  // Shows the badge while the receipt's day is not today and the date is printed; at midnight
  // the day is looked at again (one timer a day, nothing in between).
  void show_day() {
    if (badge.is_none()) return;
    const CalendarDate today = receiptora::today_local(), day = day_in_force();
    if (day != today && date_printed()) {
      const std::string text = "收據日期：" + day_text(day) + "（不是今天）";
      if (py::str(badge.attr("cget")("text")).cast<std::string>() != text) {
        badge.attr("configure")("text"_a = text);
        fit_badge(text);
      }
      badge.attr("place")("in_"_a = badge_anchor, "relx"_a = 1, "x"_a = 4, "rely"_a = 0.5, "anchor"_a = "w");
      badge.attr("lift")();
    } else {
      badge.attr("place_forget")();
    }
    if (!midnight_timer.is_none())
      receiptora_py::silently([&] { root.attr("after_cancel")(midnight_timer); });
    auto self = shared_from_this();
    midnight_timer = root.attr("after")(milliseconds_to_midnight(), py::cpp_function([self] {
                                          self->midnight_timer = py::none();
                                          guarded("midnight", [&] { self->show_day(); });
                                        }));
  }

  // The panel right of the date switch is narrow: the badge takes the largest size, down to
  // 8 pt, at which its whole text fits there, so the day in force is never cut off.
  void fit_badge(const std::string& text) {
    receiptora_py::silently([&] {
      py::object panel = badge_anchor.attr("master");
      const int room = panel.attr("winfo_width")().cast<int>() - badge_anchor.attr("winfo_x")().cast<int>() -
                       badge_anchor.attr("winfo_width")().cast<int>() - 4 - 2 * 4 - 6;
      if (room <= 0) return;  // not laid out yet: keep the size it has
      for (int size : {11, 10, 9, 8}) {
        py::object font = kit_font(size, "bold");
        if (size == 8 || font.attr("measure")(text).cast<int>() <= room) {
          badge.attr("configure")("font"_a = font);
          return;
        }
      }
    });
  }

  static long milliseconds_to_midnight() {
    py::object now = py::module_::import("datetime").attr("datetime").attr("now")();
    const long seconds = 86400 - (now.attr("hour").cast<long>() * 3600 +
                                  now.attr("minute").cast<long>() * 60 + now.attr("second").cast<long>());
    return seconds * 1000 + 500;
  }

  // Today through the window's calendar, so the refresh copies it as any picked day. Without a
  // calendar the window's own day is today's once it opened today; else the toast says how.
  void choose_today() {
    guarded("today", [&] {
      py::object window_module = py::module_::import("sys").attr("modules").attr("get")("GUI");
      py::object calendar =
          window_module.is_none() ? py::none() : py::getattr(window_module, "calendar", py::none());
      if (!calendar.is_none())
        calendar.attr("choose_today")();
      else if (opened != receiptora::today_local())
        show_message(py::dict("kind"_a = "refused", "title"_a = "請按日曆圖示，選擇今天的日期", "body"_a = "",
                              "pdf"_a = "", "actions"_a = py::list()));
      show_day();
    });
  }

  // Ctrl+N and the toast's 「下一張」: buyer, 統一編號 and every item row emptied, the day back
  // to today, the cursor in 買受人.
  void new_receipt() {
    guarded("new receipt", [&] {
      auto empty = [](py::handle entry) {
        if (!entry.is_none()) entry.attr("delete")(0, "end");
      };
      empty(buyer);
      empty(tax_id);
      for (py::handle cell : cells) empty(cell);
      choose_today();
      if (!buyer.is_none()) buyer.attr("focus_set")();
    });
  }

  // The toast: the last messages over the window's lower edge for kToastMilliseconds, each
  // with its actions and 「下一張」; a click on a message opens its PDF.
  void show_message(py::dict message) {
    if (root.is_none()) return;
    lines.append(message);
    while (py::len(lines) > kToastLines) lines.attr("pop")(0);
    if (!toast.is_none()) toast.attr("destroy")();
    py::object tkinter = py::module_::import("tkinter");
    const bool warning = py::str(message["kind"]).cast<std::string>() != "issued";
    toast = tkinter.attr("Frame")(root, "bg"_a = warning ? kWarningColour : kToastColour, "padx"_a = 10,
                                  "pady"_a = 6);
    auto self = shared_from_this();
    int row = 0;
    for (py::handle shown : lines) {
      py::dict line = py::reinterpret_borrow<py::dict>(shown);
      std::string text = py::str(line["title"]);
      const std::string body = py::str(line["body"]);
      if (!body.empty()) text += "\n" + body;
      const std::string pdf = py::str(line["pdf"]);
      py::object label = tkinter.attr("Label")(toast, "text"_a = text, "justify"_a = "left", "anchor"_a = "w",
                                               "fg"_a = "white", "bg"_a = toast.attr("cget")("bg"),
                                               "font"_a = kit_font(12), "wraplength"_a = 520);
      label.attr("grid")("row"_a = row, "column"_a = 0, "sticky"_a = "w");
      if (!pdf.empty()) {
        label.attr("configure")("cursor"_a = "hand2");
        label.attr("bind")("<Button-1>", py::cpp_function([pdf](py::object) { open_file(pdf); }));
      }
      int column = 1;
      for (py::handle action : py::reinterpret_borrow<py::list>(line["actions"])) {
        py::object run = action[py::int_(1)];
        button(py::str(action[py::int_(0)]), row, column++, [self, run] { self->run_action(run); });
      }
      ++row;
    }
    button(py::str("下一張"), row - 1, 9, [self] {
      self->new_receipt();
      self->hide_toast();
    });
    toast.attr("place")("relx"_a = 0.5, "rely"_a = 1.0, "y"_a = -8, "anchor"_a = "s");
    toast.attr("lift")();
    bool decision = false;
    for (py::handle shown : lines) decision = decision || py::len(shown["actions"]) > 0;
    toast_lasts = decision ? kDecisionToastMilliseconds : kToastMilliseconds;
    start_toast_timer();
  }

  int toast_lasts = kToastMilliseconds;

  void stop_toast_timer() {
    if (!toast_timer.is_none()) receiptora_py::silently([&] { root.attr("after_cancel")(toast_timer); });
    toast_timer = py::none();
  }

  void start_toast_timer() {
    stop_toast_timer();
    if (toast.is_none()) return;
    auto self = shared_from_this();
    toast_timer = root.attr("after")(toast_lasts, py::cpp_function([self] {
                                       self->toast_timer = py::none();
                                       guarded("toast", [&] { self->hide_toast(); });
                                     }));
  }

  void button(py::str text, int row, int column, std::function<void()> pressed) {
    py::module_::import("tkinter")
        .attr("Button")(toast, "text"_a = text, "font"_a = kit_font(12), "padx"_a = 8, "pady"_a = 0,
                        "relief"_a = "flat", "bg"_a = "#E8E8E8", "activebackground"_a = "#FFFFFF",
                        "command"_a = py::cpp_function([pressed] { guarded("toast button", pressed); }))
        .attr("grid")("row"_a = row, "column"_a = column, "padx"_a = py::make_tuple(8, 0));
  }

  void hide_toast() {
    lines = py::list();
    if (toast.is_none()) return;
    toast.attr("destroy")();
    toast = py::none();
  }

  // An action (「作廢這張」) runs off Tk's thread: voiding takes the book and draws a copy. What it
  // says comes back as an answer.
  void run_action(py::object action) {
    expect_answer();
    py::module_::import("threading")
        .attr("Thread")("target"_a = py::cpp_function([action] {
                          py::object said = py::none();
                          receiptora_py::on_exception([&] { said = action(); },
                                                      [&](py::handle error) { said = py::str(error); });
                          post_answer(py::dict("kind"_a = "issued",
                                               "title"_a = said.is_none() ? py::str("") : py::str(said),
                                               "body"_a = "", "pdf"_a = "", "actions"_a = py::list()));
                        }),
                        "daemon"_a = true)
        .attr("start")();
  }

  static void open_file(const std::string& path) {
    guarded("open", [&] {
      py::object sys = py::module_::import("sys");
      if (py::str(sys.attr("platform")).cast<std::string>() == "win32") {
        py::module_::import("os").attr("startfile")(path);
      } else {
        py::module_::import("subprocess")
            .attr("Popen")(py::make_tuple("xdg-open", path), "stdout"_a = -3, "stderr"_a = -3,
                           "start_new_session"_a = true);
      }
    });
  }
};

std::shared_ptr<Guards> guards_of(py::handle entry) {
  py::object root = entry.attr("winfo_toplevel")();
  py::object held = py::getattr(root, kGuardsAttribute, py::none());
  if (!held.is_none()) return held.cast<std::shared_ptr<Guards>>();
  auto guards = std::make_shared<Guards>();
  guards->root = root;
  guards->opened = receiptora::today_local();
  root.attr(kGuardsAttribute) = py::cast(guards);
  settings().window = guards;
  // After the build: the date switch and the panels exist once the event loop runs.
  root.attr("after")(0, py::cpp_function([guards] { guarded("install", [&] { guards->install(); }); }));
  root.attr("bind")("<Destroy>", py::cpp_function([guards](py::object event) {
                      py::object widget = event.attr("widget");
                      if (!widget.is(guards->root)) return;
                      guards->release();
                    }),
                    "+");
  return guards;
}

void poll_answers() {
  Settings& s = settings();
  s.polling = false;
  std::shared_ptr<Guards> window = s.window.lock();
  if (!window || window->root.is_none()) {
    s.answers = py::list();
    return;
  }
  py::list answers = s.answers;
  s.answers = py::list();
  for (py::handle answer : answers) {
    --s.outstanding;
    s.waited_since = monotonic();
    guarded("answer", [&] { window->show_message(py::reinterpret_borrow<py::dict>(answer)); });
  }
  if (s.outstanding > 0 && monotonic() - s.waited_since < kAnswerPatienceSeconds) {
    s.polling = true;
    window->root.attr("after")(kAnswerPollMilliseconds, py::cpp_function(poll_answers));
  } else {
    s.outstanding = 0;
  }
}

// The 統一編號 entry's border: green for a valid number, red for a typed one that is not, the
// theme's colour when empty. Only the colour changes, never the entry's size.
void follow_tax_id(py::object entry) {
  py::object variable = entry.attr("_textvariable");
  if (variable.is_none()) return;
  py::object normal = entry.attr("cget")("border_color");
  py::object weak = py::weakref(entry);
  variable.attr("trace_add")("write", py::cpp_function([weak, variable, normal](py::args) {
                               guarded("統一編號", [&] {
                                 py::object live = weak();
                                 if (live.is_none()) return;
                                 const std::string typed = py::str(variable.attr("get")());
                                 py::object colour = typed.empty()                     ? normal
                                                     : receiptora::valid_tax_id(typed) ? py::str(kTaxIdGood)
                                                                                       : py::str(kTaxIdBad);
                                 live.attr("configure")("border_color"_a = colour);
                               });
                             }));
}

}  // namespace

void expect_answer() {
  Settings& s = settings();
  if (!s.on) return;
  ++s.outstanding;
  s.waited_since = monotonic();
  std::shared_ptr<Guards> window = s.window.lock();
  if (s.polling || !window || window->root.is_none()) return;
  s.polling = true;
  window->root.attr("after")(kAnswerPollMilliseconds, py::cpp_function(poll_answers));
}

void say_now(const std::string& title) {
  if (!settings().on) return;
  guarded("say", [&] {
    if (std::shared_ptr<Guards> window = settings().window.lock())
      window->show_message(py::dict("kind"_a = "refused", "title"_a = title, "body"_a = "", "pdf"_a = "",
                                    "actions"_a = py::list()));
  });
}

void post_answer(py::dict answer) {
  if (settings().on) settings().answers.append(std::move(answer));
}

void guard_field(py::handle entry, const char* kind) {
  if (!settings().on) return;
  guarded("field", [&] {
    std::shared_ptr<Guards> guards = guards_of(entry);
    const std::string field = kind;
    py::object held = py::reinterpret_borrow<py::object>(entry);
    if (field == "buyer") {
      guards->buyer = held;
    } else if (field == "tax_id") {
      guards->tax_id = held;
      follow_tax_id(held);
    } else {
      guards->cells.append(held);
    }
  });
}

void day_chosen(py::handle widget) {
  if (!settings().on) return;
  guarded("day", [&] {
    py::object held = py::getattr(widget.attr("_root")(), kGuardsAttribute, py::none());
    if (!held.is_none()) held.cast<std::shared_ptr<Guards>>()->show_day();
  });
}

void taiwan_habits(py::handle widget) {
  py::object tk = widget.attr("tk");
  tk.attr("eval")(kKeysScript);
  py::object path = py::module_::import("os.path");
  py::object folder =
      path.attr("join")(path.attr("dirname")(py::module_::import("receiptora").attr("__file__")), "tk_msgs");
  tk.attr("call")("package", "require", "msgcat");
  tk.attr("call")("::msgcat::mcload", folder);
  tk.attr("call")("::msgcat::mclocale", "zh_tw");
}

void register_window_guards(py::module_& m) {
  py::class_<Guards, std::shared_ptr<Guards>>(m, "_Window_Guards");
  m.def(
      "guard_slips", [](bool on) { settings().on = on; }, "on"_a = true,
      "Windows built from now on guard the operator's slips: the receipt day shown while it is not "
      "today, the worker's answers as a toast (answer, expect), Ctrl+N, Ctrl+A, text-only paste and "
      "the 統一編號 checked as typed.");
  m.def(
      "answer", [](py::dict answer) { post_answer(std::move(answer)); }, "answer"_a,
      "From any thread: what became of a request (a dict: kind, title, body, pdf, actions as (label, "
      "callable) pairs), shown on the guarded window.");
  m.def("expect", &expect_answer,
        "On the window's thread: a request was handed over, so its answer is looked for until it comes.");
  m.def(
      "say", [](const std::string& title) { say_now(title); }, "title"_a,
      "On the window's thread: shows title on the guarded window at once (a press it refused).");
  m.def("taiwan_habits", &taiwan_habits, "widget"_a,
        "In the widget's Tk: Ctrl+A selects all, a paste inserts only text, and Tk's own dialogs speak "
        "Traditional Chinese as written in Taiwan (the package's zh_tw catalog).");
}

}  // namespace quillmarkers
