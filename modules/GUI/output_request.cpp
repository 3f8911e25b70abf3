// button_event_001: one press of "輸出單據" builds a receipt request and hands it to the worker.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "receiptora_py/display_form.hpp"
#include "guards.hpp"
#include "module_names.hpp"
#include "platform.hpp"
#include "receiptora/request_keys.hpp"
#include "receiptora/request_rows.hpp"
#include "receiptora/templates.hpp"
#include "receiptora_py/compare.hpp"
#include "receiptora_py/convert.hpp"
#include "window_state.hpp"
#include "worker_channels.hpp"

namespace gui {

using namespace pybind11::literals;
namespace keys = receiptora::request_keys;

namespace {

using receiptora::Template;
using receiptora::template_info;

bool contains(py::handle text, const char* part) {
  const int result = PySequence_Contains(text.ptr(), name(part).ptr());
  if (result < 0) throw py::error_already_set();
  return result == 1;
}

// Font file names in the fonts folders, as listed, by extension; no subfolders.
py::list list_fonts(const py::list& font_dirs) {
  py::list fonts;
  py::object listdir = global("os").attr(name("listdir"));
  py::tuple extensions = py::make_tuple(".ttf", ".otf", ".ttc");
  for (py::handle folder : font_dirs) {
    for (py::handle file : listdir(folder)) {
      if (file.attr(name("lower"))().attr(name("endswith"))(extensions).cast<bool>()) fonts.append(file);
    }
  }
  return fonts;
}

// The cat template needs simhei.ttf; tell the operator once per window when it is missing.
void check_font(WindowState& s, py::handle template_name) {
  on_exception(
      [&] {
        const receiptora::TemplateInfo& cat = template_info(Template::Cat);
        py::object parameters = s.parameters_record.attr(name("parameters"));
        if (!contains(template_name, cat.name.data()) ||
            !receiptora_py::equals(parameters[name("check_simhei.ttf")], Py_False))
          return;
        py::list font_dirs = platform::font_folders();
        if (contains(list_fonts(font_dirs), cat.window_font.data())) return;
        global("messagebox")
            .attr(name("showinfo"))("軟體提示", "此模板的收據需要安裝simhei.ttf的字型才能正常使用。");
        parameters[name("check_simhei.ttf")] = true;
      },
      [](py::handle error) { py::print(py::str("檢查字型失敗 --> ") + py::str(error)); });
}

// The item table as typed: each row's name as the table gives it and its three texts, and the
// first row with a cell that cannot be read (no text, a column too short), which refuses the
// press: taken for blank, its item would silently be left out of the receipt.
struct TypedRows {
  std::vector<py::object> names;
  std::vector<std::u32string> texts;  // name, quantity, unit price of each row
  std::vector<receiptora::RowTexts> rows;
  std::optional<size_t> unreadable_row;
};

TypedRows read_rows(py::handle table) {
  const size_t count = py::len(table[py::int_(0)]);
  TypedRows typed{std::vector<py::object>(count), std::vector<std::u32string>(3 * count), {}, {}};
  for (size_t i = 0; i < count; ++i) {
    on_exception(
        [&] {
          py::object item_name = table[py::int_(0)][py::int_(i)];
          std::u32string name = receiptora_py::to_u32(item_name);
          std::u32string quantity = receiptora_py::to_u32(table[py::int_(1)][py::int_(i)]);
          std::u32string unit_price = receiptora_py::to_u32(table[py::int_(2)][py::int_(i)]);
          typed.names[i] = std::move(item_name);
          typed.texts[3 * i] = std::move(name);
          typed.texts[3 * i + 1] = std::move(quantity);
          typed.texts[3 * i + 2] = std::move(unit_price);
        },
        [&](py::handle) {
          if (!typed.unreadable_row) typed.unreadable_row = i;
        });
  }
  typed.rows.reserve(count);
  for (size_t i = 0; i < count; ++i)
    typed.rows.push_back({typed.texts[3 * i], typed.texts[3 * i + 1], typed.texts[3 * i + 2]});
  return typed;
}

// Runs f under the error log's wrapper: a failure is logged, never raised into the press.
template <class F>
void run_logged(const char* function_name, F&& f) {
  global("try_except_log")(py::cpp_function(std::forward<F>(f), py::name(function_name)))();
}

// Prints the request line. Printing never stops the hand-over: what the stream's encoding
// cannot write (cp950 has no 喆 or 堃) is written as backslash escapes, and a failure (a
// closed standard output, say) goes to the error log.

void print_request(const py::dict& request) {
  run_logged("print_request", [request] {
    py::str line(receiptora_py::display_form(request));
    py::object out = py::module_::import("sys").attr(name("stdout"));
    py::object encoding = py::getattr(out, name("encoding"), py::none());
    py::str text = line;
    if (PyUnicode_Check(encoding.ptr()))
      text = line.attr(name("encode"))(encoding, name("backslashreplace")).attr(name("decode"))(encoding);
    py::print(text, "file"_a = out);
  });
}

// The refused press's line as a desktop notice. The notifier lives in a module of its own,
// imported here on the first notice, so the window's process maps GLib only once one is sent;
// a notice that cannot be sent goes to the error log.
void send_notice(const std::string& message) {
  run_logged("send_notice",
             [message] { py::module_::import("receiptora._notify").attr(name("send_notice"))(message); });
  // The kit shows it on the window too when the host guards the operator's slips.
  run_logged("say", [message] { global("quillmarkers").attr("say")(message); });
}

void press(WindowState& s) {
  py::object table = s.item_table.attr(name("get"))();
  py::dict request;
  py::object template_name = s.template_menu.attr(name("get"))();
  for (const receiptora::TemplateInfo& layout : receiptora::templates()) {
    if (contains(template_name, layout.name.data())) {
      request[name(keys::kTemplate)] = layout.name.data();
      break;
    }
  }
  check_font(s, template_name);

  request[name(keys::kBuyer)] = s.buyer_fields.attr(name("get"))("買受人");
  request[name(keys::kBuyerTaxId)] = s.buyer_fields.attr(name("get"))("統一編號");
  py::list names, quantities, unit_prices;
  request[name(keys::kItemNames)] = names;
  request[name(keys::kQuantities)] = quantities;
  request[name(keys::kUnitPrices)] = unit_prices;
  request[name(keys::kOutputFolder)] = platform::output_folder();
  py::object parameters = s.parameters_record.attr(name("parameters"));
  for (const char* key : keys::kOptions) request[name(key)] = parameters[name(key)];

  // A typed row that would be left out (a cell that cannot be read, a quantity or price that is
  // no whole number) refuses the whole press: the rows stay as typed and nothing reaches the
  // worker.
  const TypedRows typed = read_rows(table);
  const receiptora::RequestRows rows = receiptora::request_rows(typed.rows);
  if (typed.unreadable_row || rows.rejected_row) {
    const std::string message = typed.unreadable_row
                                    ? receiptora::unreadable_row_message(*typed.unreadable_row)
                                    : receiptora::rejected_row_message(*rows.rejected_row);
    py::print(message);
    send_notice(message);
    return;
  }
  for (const auto& [row, item] : rows.sent) {
    names.append(typed.names[row]);
    quantities.append(receiptora_py::to_int(item.quantity));
    unit_prices.append(receiptora_py::to_int(item.unit_price));
  }

  if (standalone()) {
    print_request(request);
    return;
  }
  if (receiptora_py::equals(worker_channels::busy_answer(s), Py_False)) {
    print_request(request);
    worker_channels::hand_over(s, request);
  }
}

}  // namespace

py::object make_output_request(const State& state) {
  return py::cpp_function([state] { press(open_window(state)); }, py::name("button_event_001"));
}

}  // namespace gui
