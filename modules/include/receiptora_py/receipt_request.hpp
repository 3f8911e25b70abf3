// A receipt request dictionary (the window's thirteen keys) and a seller profile dictionary
// → the Receipt core describes. Call with the GIL held; the result is plain C++ data, so the
// caller may release the GIL around render_pdf / render_png.
#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "receiptora/receipt_texts.hpp"
#include "receiptora/request_keys.hpp"
#include "receiptora/receipt.hpp"
#include "receiptora/templates.hpp"
#include "receiptora/whole_number.hpp"
#include "receiptora_py/convert.hpp"

namespace receiptora_py {

namespace request_detail {

inline std::string quoted(std::string_view key) { return "\"" + std::string(key) + "\""; }

// The value under `key`, or a null object when absent. A reference of our own: code that
// runs while we read it (a str subclass's __repr__) cannot free it under us.
inline py::object lookup(PyObject* dict, const char* key) {
  return py::reinterpret_borrow<py::object>(PyDict_GetItemString(dict, key));
}

inline py::object require(PyObject* dict, const char* key, const char* what) {
  py::object value = lookup(dict, key);
  if (!value) throw py::value_error(std::string(what) + "缺少 " + quoted(key) + " 欄");
  return value;
}

// Text as UTF-8; a lone surrogate (which UTF-8 cannot hold) becomes "?"; a NUL is refused.
inline std::string utf8(PyObject* text, const std::string& name) {
  if (!PyUnicode_Check(text)) {
    throw py::type_error(name + " 應為文字，不是 " + Py_TYPE(text)->tp_name);
  }
  PyObject* bytes = PyUnicode_AsEncodedString(text, "utf-8", "replace");
  if (!bytes) throw py::error_already_set();
  std::string out(PyBytes_AS_STRING(bytes), static_cast<size_t>(PyBytes_GET_SIZE(bytes)));
  Py_DECREF(bytes);
  // A NUL would cut the text short in the ledger and in every file name or reader after it.
  if (out.find('\0') != std::string::npos)
    throw py::value_error(name + " 含有 NUL 字元（U+0000），收據與收據清冊都不能有這種字元");
  return out;
}

inline std::string text_item(PyObject* dict, const char* key, const char* what) {
  return utf8(require(dict, key, what).ptr(), quoted(key));
}

inline bool flag(PyObject* dict, const char* key) {
  PyObject* value = require(dict, key, "收據請求").ptr();
  if (!PyBool_Check(value)) {
    throw py::type_error(quoted(key) + " 應為 true 或 false，不是 " + Py_TYPE(value)->tp_name);
  }
  return value == Py_True;
}

// A stamp's switch: True, False, or None (a batch line that leaves it empty: the stamp is
// shown when the seller profile can draw it, decided where the profile is read).
inline std::optional<bool> stamp_switch(PyObject* dict, const char* key) {
  PyObject* value = require(dict, key, "收據請求").ptr();
  if (value == Py_None) return std::nullopt;
  return flag(dict, key);
}

// A whole number given as an int or as a text of digits (the date picker reports texts).
inline int date_part(PyObject* dict, const char* key) {
  const py::object held = require(dict, key, "收據請求");
  PyObject* value = held.ptr();
  std::optional<mpz_class> number;
  if (PyLong_Check(value) && !PyBool_Check(value)) {
    number = to_mpz(value);
  } else if (PyUnicode_Check(value)) {
    number = receiptora::parse_whole_number(to_u32(value));
  } else {
    throw py::type_error(quoted(key) + " 應為整數或數字文字，不是 " + Py_TYPE(value)->tp_name);
  }
  if (!number || !number->fits_sint_p()) {
    throw py::value_error(quoted(key) + " 不是可用的日期數字：" + py::repr(value).cast<std::string>());
  }
  return static_cast<int>(number->get_si());
}

// A list (or tuple) under `key`.
inline py::sequence items_list(PyObject* dict, const char* key) {
  const py::object value = require(dict, key, "收據請求");
  if (!PyList_Check(value.ptr()) && !PyTuple_Check(value.ptr())) {
    throw py::type_error(quoted(key) + " 應為清單，不是 " + Py_TYPE(value.ptr())->tp_name);
  }
  return py::reinterpret_borrow<py::sequence>(value);
}

inline mpz_class whole(py::handle value, const char* key, size_t index) {
  // bool is an int to Python, but a quantity of True is a mistake, not 1.
  if (!PyLong_Check(value.ptr()) || PyBool_Check(value.ptr())) {
    throw py::type_error(quoted(key) + "[" + std::to_string(index) + "] 應為整數，不是 " +
                         Py_TYPE(value.ptr())->tp_name);
  }
  return to_mpz(value);
}

// A folder name with a control character (NUL, a line break, ESC ...) cannot be what the
// operator meant, and a NUL would cut the name short in every system call: refused before
// a receipt number is taken.
inline void check_folder_text(PyObject* text, const char* key) {
  const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
  const int kind = PyUnicode_KIND(text);
  const void* data = PyUnicode_DATA(text);
  for (Py_ssize_t i = 0; i < length; ++i) {
    const Py_UCS4 c = PyUnicode_READ(kind, data, i);
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
      char code[8];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      throw py::value_error(quoted(key) + " 的第 " + std::to_string(i) + " 個字元是控制字元（" + code +
                            "），資料夾名稱不能有");
    }
  }
}

}  // namespace request_detail

// The seller profile: keys 商號名稱 統一編號 負責人 地址 電話 (texts, required), and optionally
// 免用統一發票章圖檔 and 負責人章圖檔 (paths of PNG pictures used instead of the drawn stamps).
inline receiptora::SellerProfile seller_from_dict(py::handle profile) {
  using namespace request_detail;
  PyObject* dict = profile.ptr();
  if (!PyDict_Check(dict)) {
    throw py::type_error(std::string("賣方資料應為物件（dict），不是 ") + Py_TYPE(dict)->tp_name);
  }
  receiptora::SellerProfile seller;
  namespace keys = receiptora::seller_keys;
  seller.name = text_item(dict, keys::kName, "賣方資料");
  seller.tax_id = text_item(dict, keys::kTaxId, "賣方資料");
  seller.owner = text_item(dict, keys::kOwner, "賣方資料");
  seller.address = text_item(dict, keys::kAddress, "賣方資料");
  seller.phone = text_item(dict, keys::kPhone, "賣方資料");
  for (auto [key, field] : {std::pair{keys::kExemptionStampImage, &seller.exemption_stamp_image},
                            std::pair{keys::kOwnerSealImage, &seller.owner_seal_image}}) {
    const py::object value = lookup(dict, key);
    if (value && !value.is_none()) *field = utf8(value.ptr(), quoted(key));
  }
  return seller;
}

// Raises TypeError or ValueError naming the key for a request that is not a receipt
// request: not a dict, a missing key, a value of the wrong type, item lists of different
// lengths, a date that does not exist, a 存檔路徑 holding a control character. "版本" may be
// absent or unknown: 一般格式. "備註", one note per item, may be absent.
inline receiptora::Receipt receipt_from_request(py::handle request, std::string number,
                                                receiptora::SellerProfile seller) {
  using namespace request_detail;
  using receiptora::Template;
  PyObject* dict = request.ptr();
  if (!PyDict_Check(dict)) {
    throw py::type_error(std::string("收據請求應為物件（dict），不是 ") + Py_TYPE(dict)->tp_name);
  }
  receiptora::Receipt receipt;
  receipt.seller = std::move(seller);
  receipt.number = std::move(number);
  namespace keys = receiptora::request_keys;
  const py::object version = lookup(dict, keys::kTemplate);
  const receiptora::TemplateInfo* look =
      version && PyUnicode_Check(version.ptr())
          ? receiptora::find_template(utf8(version.ptr(), quoted(keys::kTemplate)))
          : nullptr;
  receipt.layout = look ? look->id : Template::General;
  const py::object folder = lookup(dict, keys::kOutputFolder);
  if (folder && PyUnicode_Check(folder.ptr())) check_folder_text(folder.ptr(), keys::kOutputFolder);
  receipt.buyer = text_item(dict, keys::kBuyer, "收據請求");
  receipt.buyer_tax_id = text_item(dict, keys::kBuyerTaxId, "收據請求");

  const py::sequence names = items_list(dict, keys::kItemNames);
  const py::sequence quantities = items_list(dict, keys::kQuantities);
  const py::sequence prices = items_list(dict, keys::kUnitPrices);
  const size_t count = names.size();
  if (quantities.size() != count || prices.size() != count) {
    throw py::value_error("\"品名\"、\"數量\" 與 \"單件價格\" 的項數應相同（" + std::to_string(count) + ", " +
                          std::to_string(quantities.size()) + ", " + std::to_string(prices.size()) + "）");
  }
  // "備註": optional, a note per item (texts, None or "" for none).
  const py::object notes_value = lookup(dict, keys::kNotes);
  py::sequence notes;
  if (notes_value && !notes_value.is_none()) {
    notes = items_list(dict, keys::kNotes);
    if (notes.size() != count) {
      throw py::value_error("\"備註\" 應每項商品一筆（" + std::to_string(count) + " 筆），不是 " +
                            std::to_string(notes.size()) + " 筆");
    }
  }
  receipt.items.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    receiptora::Item item;
    item.name = utf8(names[i].ptr(), quoted(keys::kItemNames) + "[" + std::to_string(i) + "]");
    item.quantity = whole(quantities[i], keys::kQuantities, i);
    item.unit_price = whole(prices[i], keys::kUnitPrices, i);
    if (notes && !notes[i].is_none())
      item.note = utf8(notes[i].ptr(), quoted(keys::kNotes) + "[" + std::to_string(i) + "]");
    receipt.items.push_back(std::move(item));
  }

  // Left unset: off here; a batch decides with the seller profile (issuing's BatchJob).
  receipt.exemption_stamp = stamp_switch(dict, keys::kShowExemptionStamp).value_or(false);
  receipt.owner_seal = stamp_switch(dict, keys::kShowOwnerSeal).value_or(false);
  if (flag(dict, keys::kShowDate)) {
    const receiptora::Date date{date_part(dict, keys::kYear), date_part(dict, keys::kMonth),
                                date_part(dict, keys::kDay)};
    if (!receiptora::roc_date(date.year, date.month, date.day)) {
      throw py::value_error("\"年\"、\"月\"、\"日\" 是 " + std::to_string(date.year) + "-" +
                            std::to_string(date.month) + "-" + std::to_string(date.day) +
                            "，不是民國 1 年至 200 年間存在的日期");
    }
    receipt.date = date;
  }
  return receipt;
}

}  // namespace receiptora_py
