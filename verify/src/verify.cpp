#include "receiptora/verify/verify.hpp"

#include <gmpxx.h>

#include <fstream>
#include <stdexcept>

#include "receiptora/receipt_texts.hpp"
#include "receiptora/render/card.hpp"
#include "receiptora/store/files.hpp"
#include "receiptora/store/profile.hpp"
#include "receiptora/store/signing.hpp"

namespace receiptora::verify {

namespace {

constexpr std::string_view kCardVersion = "RK1";

bool is_pdf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  char head[5] = {};
  in.read(head, 5);
  return std::string_view(head, 5) == "%PDF-";
}

std::string without_spaces(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f') continue;
    if (text.compare(i, 3, "\u3000") == 0) {  // ideographic space
      i += 2;
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

std::optional<RocDate> roc_of(const std::string& iso) {
  int y = 0, m = 0, d = 0;
  if (std::sscanf(iso.c_str(), "%d-%d-%d", &y, &m, &d) != 3) return std::nullopt;
  return roc_date(y, m, d);
}

// What the PDF prints against what the code signs: the number, the date (unless left blank to
// fill by hand) and the total in figures and in capitals. Empty when they agree.
std::string printed_differs(const std::string& text, const std::vector<std::string>& totals,
                            const store::Code& code) {
  const std::string flat = without_spaces(text);
  if (flat.find(code.number) == std::string::npos) return "PDF 印的號碼不是簽章的 " + code.number;
  const auto roc = roc_of(code.date());
  if (flat.find("中華民國年月日") == std::string::npos && roc &&
      flat.find(without_spaces(roc_date_text(*roc))) == std::string::npos)
    return "PDF 印的日期不是簽章的 " + roc_day_text(*roc);
  const mpz_class total(code.total);
  const std::string figures = grouped_figures(total);
  if (totals.empty() || flat.find(capital_numerals(total)) == std::string::npos)
    return "PDF 印的合計不是簽章的 " + figures + " 元";
  for (const std::string& printed : totals) {
    // The figures on the 合計 line: digits, their commas and a sign.
    const size_t start = printed.find_first_of("-0123456789");
    const std::string shown =
        start == std::string::npos
            ? ""
            : printed.substr(start, printed.find_first_not_of("-0123456789,", start) - start);
    if (shown != figures) return "PDF 印的合計 " + shown + " 元不是簽章的 " + figures + " 元";
  }
  return {};
}

std::string seller_words(const store::Code& code, const std::string& name) {
  const bool tax_id = code.seller.size() == 8;
  if (!name.empty()) return name + (tax_id ? "（" + code.seller + "）" : "");
  if (tax_id) return "統一編號 " + code.seller + " 的商家";
  return "金鑰 " + store::normal_fingerprint(code.seller) + " 的商家";
}

}  // namespace

std::string card_code(const std::string& seller, const std::string& public_key) {
  return std::string(kCardVersion) + "." + seller + "." + store::base32_encode(public_key);
}

std::string key_of_card_code(const std::string& text) {
  if (!text.starts_with(std::string(kCardVersion) + ".")) return {};
  const size_t dot = text.rfind('.');
  const auto key = store::base32_decode(text.substr(dot + 1));
  return key && key->size() == store::kPublicKeyBytes ? *key : std::string();
}

std::vector<fs::path> write_key_card(const fs::path& folder) {
  const auto key = store::ShopKey::of_folder(folder);
  std::string book_key;
  store::read_book_once(folder, [&](const store::Book& book) {
    if (book.version() >= 5) book_key = store::book_public_key(book);
  });
  if (!book_key.empty() && book_key != key->public_key())
    throw std::runtime_error("輸出資料夾的簽章金鑰（" + key->fingerprint() + "）不是收據簿記錄的金鑰（" +
                             store::fingerprint_of(book_key) + "），不製作驗證卡");
  const store::ProfileRead profile = store::read_profile(folder);
  render::KeyCard card{profile.seller.name, profile.seller.tax_id, key->fingerprint(), ""};
  card.code = card_code(profile.seller.tax_id, key->public_key());
  const render::Rendered drawn = render::render_key_card(card);
  std::vector<fs::path> written;
  for (const auto& [extension, bytes] : {std::pair{".pdf", &drawn.pdf}, std::pair{".png", &drawn.png}}) {
    const fs::path target = folder / (std::string("驗證卡") + extension);
    const store::StagedFile staged = store::stage_file(target, *bytes, true);
    std::error_code ec;
    fs::rename(staged.temp, target, ec);  // a card made again replaces the older one
    if (ec) {
      store::discard_file(staged);
      throw std::system_error(ec, "無法存檔 " + target.string());
    }
    written.push_back(target);
  }
  return written;
}

KeyChoice choose_key(const fs::path& folder, const std::string& key_argument) {
  std::string book_key;
  store::read_book_once(folder, [&](const store::Book& book) {
    if (book.version() >= 5) book_key = store::book_public_key(book);
  });
  if (key_argument.empty()) {
    if (book_key.empty())
      throw std::runtime_error("輸出資料夾 " + folder.string() +
                               " 沒有簽章金鑰：請用 --key 指定商家的驗證卡（驗證卡.png 或 .pdf）");
    return {book_key, "輸出資料夾的金鑰"};
  }
  std::error_code ec;
  if (fs::is_regular_file(key_argument, ec)) {
    const std::vector<std::string> codes =
        is_pdf(key_argument) ? read_pdf(key_argument).codes : codes_in_picture(key_argument);
    for (const std::string& code : codes)
      if (std::string key = key_of_card_code(code); !key.empty())
        return {key, "驗證卡 " + key_argument + " 的金鑰"};
    throw std::runtime_error("在 " + key_argument + " 找不到驗證卡的公鑰 QR 碼");
  }
  const std::string fingerprint = store::normal_fingerprint(key_argument);
  if (fingerprint.empty())
    throw std::runtime_error("--key 既不是檔案，也不是金鑰指紋（8 組 4 位十六進位數字）：" + key_argument);
  if (book_key.empty())
    throw std::runtime_error("只有指紋無法驗證：輸出資料夾沒有這家店的公鑰；請用 --key 指定驗證卡");
  if (store::fingerprint_of(book_key) != fingerprint)
    throw std::runtime_error("輸出資料夾的金鑰指紋是 " + store::fingerprint_of(book_key) + "，不是 " +
                             fingerprint);
  return {book_key, "指紋 " + fingerprint + " 的金鑰"};
}

Answer verify(const std::string& input, const KeyChoice& key, const fs::path& folder) {
  Answer answer;
  const std::string used = "\n使用的金鑰：" + key.where + "（" + store::fingerprint_of(key.public_key) + "）";
  auto refuse = [&](const std::string& why) {
    answer.text = "不符：" + why + used;
    return answer;
  };
  std::vector<std::string> texts;
  std::optional<PdfContents> pdf;
  std::error_code ec;
  const bool file = input.find('\n') == std::string::npos && fs::is_regular_file(input, ec);
  if (file && is_pdf(input)) {
    pdf = read_pdf(input);
    texts = pdf->codes;
  } else if (file) {
    texts = codes_in_picture(input);
  } else {
    texts = {input};
  }
  if (texts.empty()) return refuse("在 " + input + " 找不到驗證碼（QR 碼）");
  std::optional<store::Code> code;
  for (const std::string& text : texts)
    if ((code = store::parse_code(text))) break;
  if (!code) return refuse(file ? "在 " + input + " 的 QR 碼不是收據的驗證碼" : "這段文字不是收據的驗證碼");
  if (!store::code_signed_by(*code, key.public_key))
    return refuse("簽章不符：" + code->number + " 不是這把金鑰簽的，或驗證碼被改過");
  if (pdf)
    if (const std::string differs = printed_differs(pdf->text, pdf->totals, *code); !differs.empty())
      return refuse(differs);
  std::string name, refusal, voided;
  store::read_book_once(folder, [&](const store::Book& book) {
    if (book.version() < 5 || store::book_public_key(book) != key.public_key) return;
    const auto record = store::find_receipt(book, code->number);
    if (!record) {
      refusal = "收據簿沒有 " + code->number + "（這家店沒有開立過這個號碼）";
      return;
    }
    if (record->code != store::code_text(*code) || store::content_hash(*record) != code->content) {
      refusal = "收據簿裡 " + code->number + " 的內容與簽章不符";
      return;
    }
    name = record->seller.name;
    if (record->state == store::State::Void)
      voided = "（作廢日 " + record->voided_at.substr(0, 10) + "，作廢原因：" + record->void_reason + "）";
    else if (record->state != store::State::Issued)
      refusal =
          code->number + " 在收據簿裡沒有開立完成（" + std::string(store::state_label(record->state)) + "）";
  });
  if (!refusal.empty()) return refuse(refusal);
  const auto roc = roc_of(code->date());
  const std::string what = code->number + "，" + (roc ? roc_day_text(*roc) : code->date()) + "，合計 " +
                           grouped_figures(mpz_class(code->total)) + " 元，" + seller_words(*code, name) +
                           "開立";
  if (!voided.empty()) {
    answer.text = "已作廢：" + what + voided + used;
    return answer;
  }
  answer.genuine = true;
  answer.text = "真的：" + what + used;
  return answer;
}

}  // namespace receiptora::verify
