// Parameters: the receipt options that outlive one press.
#include "module_names.hpp"
#include "py_class.hpp"
#include "receiptora/request_keys.hpp"
#include "receiptora/templates.hpp"
#include "registration.hpp"

namespace gui {

namespace keys = receiptora::request_keys;

void register_parameters() {
  py::dict namespace_;
  namespace_["__init__"] = method(
      [](py::object self) {
        py::dict parameters;
        py::setattr(self, "parameters", parameters);
        parameters[keys::kShowExemptionStamp] = false;
        parameters[keys::kShowOwnerSeal] = false;
        parameters[keys::kShowDate] = true;
        py::list templates;
        for (const receiptora::TemplateInfo& t : receiptora::templates())
          templates.append(py::str(t.name.data(), t.name.size()));
        parameters["格式列表"] = templates;
        parameters["check_simhei.ttf"] = false;
        // One reading of the clock, so a record built at midnight cannot mix two dates.
        py::object current_date = global("datetime").attr("datetime").attr("now")();
        parameters[keys::kYear] = current_date.attr("year");
        parameters[keys::kMonth] = current_date.attr("month");
        parameters[keys::kDay] = current_date.attr("day");
      },
      "init");
  set_global("Parameters", make_class("Parameters", py::make_tuple(), namespace_));
}

}  // namespace gui
