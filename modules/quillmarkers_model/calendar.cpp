// CTkCalendar: a month calendar built from customtkinter widgets. The chosen day is kept
// per application window, so a calendar opened again shows the day chosen last instead of silently
// moving the receipt date back to today.
#include <pybind11/gil_safe_call_once.h>

#include <memory>
#include <optional>
#include <string>

#include "kit.hpp"
#include "receiptora/captions.hpp"
#include "receiptora/month_grid.hpp"
#include "receiptora/people_dates.hpp"
#include "receiptora_py/guards.hpp"
#include "window_guards.hpp"

namespace quillmarkers {

using Date = receiptora::CalendarDate;
using receiptora::day_cell;
using receiptora::days_in_month;
using receiptora::GridCell;
using receiptora::shift_month;
using receiptora::today_local;
using receiptora::YearMonth;

namespace {

using namespace py::literals;

// Day colours: a dark grey day, the window's blue for the chosen one (receiptora::kChosenDayColour),
// an amber ring for today.
py::tuple normal_colour() { return py::make_tuple("#D0D2D4", "#3A3B3D"); }
py::tuple hover_colour() { return py::make_tuple("#B8BBBE", "#4D4F52"); }
py::tuple today_ring() { return py::make_tuple("#C77C02", "#E3A33B"); }
py::tuple day_text() { return py::make_tuple("#1A1A1A", "#E8E8E8"); }

constexpr int kDayWidth = 30;
constexpr int kDayHeight = 26;
const char* const kWeekdays[] = {"日", "一", "二", "三", "四", "五", "六"};

// The day chosen last in an application window is kept on its root window: a calendar
// opened again in that window starts on it, so reopening the date window never moves the
// receipt date, while a new application window (whose receipt starts on today) starts on
// today.
constexpr const char* kChosenDayAttribute = "_quillmarkers_chosen_day";

std::optional<Date> remembered_day(py::handle widget) {
  std::optional<Date> remembered;
  receiptora_py::silently([&] {
    py::object root = widget.attr("_root")();
    if (!py::hasattr(root, kChosenDayAttribute)) return;
    py::tuple day = root.attr(kChosenDayAttribute);
    remembered = Date{day[0].cast<int>(), day[1].cast<int>(), day[2].cast<int>()};
  });
  return remembered;
}

void remember_day(py::handle widget, const Date& day) {
  // A root that takes no attribute only loses the memory, not the choice.
  receiptora_py::silently([&] {
    widget.attr("_root")().attr(kChosenDayAttribute) = py::make_tuple(day.year, day.month, day.day);
  });
}

// The kit's CTkButton for days: configure skips options that already hold the given value,
// since the window re-marks the chosen day every 500 ms.
py::object day_button_class() {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<py::object> storage;
  return storage
      .call_once_and_store_result([] {
        py::object cls = kit_subclass("Day_Button", "CTkButton",
                                      "A calendar day: configure leaves unchanged options alone.");
        cls.attr("configure") = py::cpp_function(
            [](py::object self, py::args args, py::kwargs options) -> py::object {
              py::object configure = ctk().attr("CTkButton").attr("configure");
              if (py::len(args) > 0) return configure(self, *args, **options);
              py::dict changed;
              for (auto [key, value] : options) {
                bool unchanged = false;
                receiptora_py::silently([&] { unchanged = same_value(self.attr("cget")(key), value); });
                if (!unchanged) changed[key] = value;
              }
              if (py::len(changed) == 0) return py::none();
              return configure(self, **changed);
            },
            py::name("configure"), py::is_method(cls));
        return cls;
      })
      .get_stored();
}

std::string key_of(const Date& d) { return receiptora::day_key(d.year, d.month, d.day); }

struct CalendarState : std::enable_shared_from_this<CalendarState> {
  py::object outer, body, title, previous, next;
  py::object day_font, title_font, arrow_font, weekday_font;
  py::dict data;
  YearMonth shown{};
  Date chosen{};
  Date today{};
  bool clickable = true;

  py::dict days() const { return data["日曆按鈕"]; }

  void build(py::object parent) {
    auto self = shared_from_this();
    day_font = kit_font(12);
    title_font = kit_font(14, "bold");
    arrow_font = kit_font(18, "bold");
    weekday_font = kit_font(12);

    outer = kit_frame_class()(parent, "corner_radius"_a = 8);
    outer.attr("grid_columnconfigure")(0, "weight"_a = 1);
    body = kit_frame_class()(outer, "fg_color"_a = "transparent");
    body.attr("grid")("row"_a = 0, "column"_a = 0, "padx"_a = 6, "pady"_a = 6);

    auto arrow = [&](const char* text, int step, int column) {
      py::object button = ctk().attr("CTkButton")(
          body, "text"_a = text, "width"_a = kDayWidth, "height"_a = kDayHeight, "font"_a = arrow_font,
          "fg_color"_a = "transparent", "hover_color"_a = hover_colour(), "text_color"_a = day_text(),
          "command"_a = py::cpp_function([self, step] { self->show(shift_month(self->shown, step)); }));
      button.attr("grid")("row"_a = 0, "column"_a = column, "padx"_a = 1, "pady"_a = py::make_tuple(0, 4));
      return button;
    };
    previous = arrow("‹", -1, 0);
    next = arrow("›", +1, 6);
    title = ctk().attr("CTkLabel")(body, "text"_a = "", "font"_a = title_font, "height"_a = kDayHeight);
    title.attr("grid")("row"_a = 0, "column"_a = 1, "columnspan"_a = 5, "pady"_a = py::make_tuple(0, 4));

    for (int column = 0; column < 7; ++column) {
      const bool weekend = column == 0 || column == 6;
      py::object label = ctk().attr("CTkLabel")(
          body, "text"_a = kWeekdays[column], "width"_a = kDayWidth, "height"_a = 18, "font"_a = weekday_font,
          "text_color"_a =
              weekend ? py::make_tuple("#C0392B", "#E8837A") : py::make_tuple("#5A5A5A", "#A9ABAE"));
      label.attr("grid")("row"_a = 1, "column"_a = column, "padx"_a = 1);
    }
    // Six week rows always, so the calendar keeps its size from month to month.
    for (int row = 2; row < 8; ++row) body.attr("grid_rowconfigure")(row, "minsize"_a = kDayHeight + 2);

    data["日曆按鈕"] = py::dict();
    data["日曆標題"] = title;
    data["月份按鈕"] = py::dict("上個月"_a = previous, "下個月"_a = next);

    // When the widget goes, drop the references to its children (their commands hold this
    // state, so keeping them would keep everything alive); the chosen day stays readable.
    std::weak_ptr<CalendarState> weak = self;
    outer.attr("bind")("<Destroy>", py::cpp_function([weak](py::object) {
                         if (auto state = weak.lock()) state->release();
                       }),
                       "+");
    show(shown);
  }

  void show(YearMonth month) {
    if (!body) return;
    for (auto item : days()) item.second.attr("destroy")();
    shown = month;
    title.attr("configure")("text"_a = roc_month_text(month));  // 民國, as every date a person reads

    auto self = shared_from_this();
    py::object day_button = day_button_class();
    py::dict buttons;
    for (int day = 1; day <= days_in_month(month); ++day) {
      const Date date{month.year, month.month, day};
      py::object button =
          day_button(body, "text"_a = std::to_string(day), "width"_a = kDayWidth, "height"_a = kDayHeight,
                     "corner_radius"_a = 6, "font"_a = day_font,
                     "fg_color"_a = date == chosen ? py::object(py::str(receiptora::kChosenDayColour))
                                                   : py::object(normal_colour()),
                     "hover_color"_a = hover_colour(), "text_color"_a = day_text(),
                     "text_color_disabled"_a = day_text(), "border_width"_a = date == today ? 2 : 0,
                     "border_color"_a = today_ring(), "state"_a = clickable ? "normal" : "disabled",
                     "command"_a = py::cpp_function([self, date] { self->choose(date); }));
      const GridCell cell = day_cell(month, day);
      button.attr("grid")("row"_a = cell.row + 2, "column"_a = cell.column, "padx"_a = 1, "pady"_a = 1);
      buttons[py::str(key_of(date))] = button;
    }
    data["日曆按鈕"] = buttons;
  }

  void choose(const Date& date) {
    py::dict buttons = days();
    if (py::str old(key_of(chosen)); buttons.contains(old))
      buttons[old].attr("configure")("fg_color"_a = normal_colour());
    chosen = date;
    remember_day(outer, date);
    if (py::str now(key_of(date)); buttons.contains(now))
      buttons[now].attr("configure")("fg_color"_a = receiptora::kChosenDayColour);
    day_chosen(outer);
  }

  void release() {
    data["日曆按鈕"] = py::dict();
    data["月份按鈕"] = py::dict();
    data["日曆標題"] = py::none();
    body = title = previous = next = py::object();
  }
};

class Calendar {
 public:
  Calendar(py::object parent, bool calendar_button) : state_(std::make_shared<CalendarState>()) {
    state_->today = today_local();
    state_->chosen = remembered_day(parent).value_or(state_->today);
    state_->shown = {state_->chosen.year, state_->chosen.month};
    state_->clickable = calendar_button;
    state_->build(std::move(parent));
  }

  py::dict data() const { return state_->data; }
  py::object frame() const { return state_->outer; }

  py::dict get_day() const {
    const Date& d = state_->chosen;
    return py::dict("年"_a = d.year, "月"_a = d.month, "日"_a = d.day);
  }

  void show_month(int year, int month) {
    if (month < 1 || month > 12) throw py::value_error("month must be 1..12");
    state_->show({year, month});
  }
  void step(int months) { state_->show(shift_month(state_->shown, months)); }
  void choose_today() {
    state_->today = today_local();
    state_->choose(state_->today);
  }
  py::tuple shown() const { return py::make_tuple(state_->shown.year, state_->shown.month); }

  // The state's Python references, for the cycle collector (the state is shared with the
  // day buttons' commands, but only this object reports it).
  template <class F>
  void visit(F&& f) const {
    const CalendarState& s = *state_;
    for (const py::object* o : {&s.outer, &s.body, &s.title, &s.previous, &s.next, &s.day_font, &s.title_font,
                                &s.arrow_font, &s.weekday_font})
      f(*o);
    f(s.data);
  }
  // Lets go of the shared state; the widgets' own references are cleared by the collector.
  void clear() {
    auto fresh = std::make_shared<CalendarState>();
    fresh->shown = state_->shown;
    fresh->chosen = state_->chosen;
    fresh->today = state_->today;
    state_ = std::move(fresh);
  }

 private:
  std::shared_ptr<CalendarState> state_;
};

}  // namespace

void register_calendar(py::module_& m) {
  auto forward = [](const char* method) {
    return [method](const Calendar& c, const py::args& args, const py::kwargs& kwargs) {
      return c.frame().attr(method)(*args, **kwargs);
    };
  };
  py::class_<Calendar>(m, "CTkCalendar", py::dynamic_attr(), collectable<Calendar, true>(),
                       "A month calendar; clicking a day chooses it. With calendar_button=False the days "
                       "are shown but cannot be clicked.")
      .def(py::init<py::object, bool>(), py::arg("parent"), py::arg("calendar_button") = true)
      .def("get_day", &Calendar::get_day, "The chosen day as {'年': y, '月': m, '日': d}.")
      .def("choose_today", &Calendar::choose_today, "Chooses today, as a click on it would.")
      .def_property_readonly("data", &Calendar::data,
                             "data['日曆按鈕']: day key 'Y-M-D' -> day button of the month shown.")
      .def_property_readonly("frame", &Calendar::frame, "The calendar's outer frame.")
      .def("show_month", &Calendar::show_month, py::arg("year"), py::arg("month"))
      .def("previous_month", [](Calendar& c) { c.step(-1); })
      .def("next_month", [](Calendar& c) { c.step(+1); })
      .def("shown_month", &Calendar::shown, "(year, month) shown.")
      .def("grid", forward("grid"))
      .def("pack", forward("pack"))
      .def("place", forward("place"))
      .def("grid_forget", forward("grid_forget"))
      .def("destroy", forward("destroy"))
      .def("winfo_exists", forward("winfo_exists"));
}

}  // namespace quillmarkers
