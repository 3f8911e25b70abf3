// Parameters: the receipt options that outlive one press.
#include "module_names.hpp"
#include "py_class.hpp"
#include "registration.hpp"

namespace gui {

void register_parameters() {
  py::dict namespace_;
  namespace_["__init__"] = method(
      [](py::object self) {
        py::dict parameters;
        py::setattr(self, "parameters", parameters);
        parameters["顯示免用統一發票章"] = false;
        parameters["顯示負責人章"] = false;
        parameters["顯示日期"] = true;
        py::list templates;
        templates.append("一般格式");
        templates.append("貓咪格式");
        parameters["格式列表"] = templates;
        parameters["check_simhei.ttf"] = false;
        // One reading of the clock, so a record built at midnight cannot mix two dates.
        py::object current_date = global("datetime").attr("datetime").attr("now")();
        parameters["年"] = current_date.attr("year");
        parameters["月"] = current_date.attr("month");
        parameters["日"] = current_date.attr("day");
      },
      "init");
  set_global("Parameters", make_class("Parameters", py::make_tuple(), namespace_));
}

}  // namespace gui
