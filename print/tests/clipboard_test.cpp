// 複製圖片: a receipt's page 1 (a void one's 作廢 copy) on the clipboard of a private X display,
// read back byte for byte, and each way it cannot be done said in Chinese.
#include "receiptora/print/clipboard.hpp"

#include <gtest/gtest.h>

#include "../../core/tests/case_label.hpp"
#include "../../core/tests/scoped_env.hpp"
#include "../../store/tests/temp_folder.hpp"
#include "private_display.hpp"
#include "receiptora/store/book.hpp"

namespace receiptora::print {
namespace {

using store::TempFolder;

// Receipt 001 of two pages, 002 void with its copy, 003 unfinished; each picture's bytes differ.
void make_receipts(const fs::path& root) {
  fs::create_directories(root / "2026-12");
  store::Book book(root);
  auto record = [&](const std::string& number, store::State state, std::vector<std::string> pictures) {
    store::Record r;
    r.number = number;
    r.date = "2026-12-07";
    r.state = state;
    r.files = {{"2026-12/" + number + ".pdf", "", "original"}};
    for (const std::string& picture : pictures) r.files.push_back({"2026-12/" + picture, "", "original"});
    for (const store::BookFile& file : r.files)
      store::write_text(root / file.name, store::kTinyPngBytes + file.name);
    store::insert_record(book, r);
  };
  record("收據-20261207-001", store::State::Issued, {"收據-20261207-001.png", "收據-20261207-001-第2頁.png"});
  record("收據-20261207-002", store::State::Issued, {"收據-20261207-002.png"});
  record("收據-20261207-003", store::State::Unfinished, {});
  const std::string copy = "2026-12/收據-20261207-002-作廢.png";
  store::mark_void(book, "收據-20261207-002", "退貨", "t",
                   {{"2026-12/收據-20261207-002-作廢.pdf", "", "void"}, {copy, "", "void"}},
                   [&] { store::write_text(root / copy, store::kTinyPngBytes + copy); });
}

class Clipboard : public testing::Test {
 protected:
  static void SetUpTestSuite() { display_ = new PrivateDisplay(); }
  static void TearDownTestSuite() {
    delete display_;
    display_ = nullptr;
  }
  void SetUp() override {
    if (display_->name().empty()) GTEST_SKIP() << "Xvfb is not installed";
    if (system("command -v xclip >/dev/null") != 0) GTEST_SKIP() << "xclip is not installed";
    make_receipts(root_.path);
  }
  static PrivateDisplay* display_;
  TempFolder root_;
};
PrivateDisplay* Clipboard::display_ = nullptr;

struct CopyCase {
  std::string label;
  std::string number;
  std::string pasted_file;  // "" when nothing is copied
  std::string message;
};

class Copies : public Clipboard, public testing::WithParamInterface<CopyCase> {};

TEST_P(Copies, PutPageOneOnTheClipboardAsPng) {
  const CopyCase& c = GetParam();
  ScopedEnv display("DISPLAY", display_->name().c_str());
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  const CopyOutcome outcome = copy_receipt_picture(root_.path, c.number);
  EXPECT_EQ(outcome.copied, !c.pasted_file.empty());
  EXPECT_NE(outcome.message.find(c.message), std::string::npos) << outcome.message;
  if (c.pasted_file.empty()) return;
  const std::string expected = store::read_all(root_.path / "2026-12" / c.pasted_file);
  EXPECT_EQ(pasted_png(expected), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Receipts, Copies,
    testing::Values(CopyCase{"two_pages", "收據-20261207-001", "收據-20261207-001.png",
                             "第 1 頁的圖片（共 2 頁，其他頁的圖片在 "},
                    CopyCase{"void_copy_never_the_clean_one", "20261207-002", "收據-20261207-002-作廢.png",
                             "已複製 收據-20261207-002-作廢 的圖片，可以貼到聊天或郵件"},
                    CopyCase{"unfinished", "收據-20261207-003", "", "沒有開立成功（未完成），不能複製"},
                    CopyCase{"unknown", "收據-20261207-009", "", "裡沒有收據 收據-20261207-009"},
                    CopyCase{"not_a_number", "../secret", "", "不是收據號碼"}),
    CaseLabel{});

struct DesktopCase {
  std::string label;
  const char* display;  // nullptr: unset
  const char* path;     // nullptr: as it is
  std::string message;
};

class Desktops : public Clipboard, public testing::WithParamInterface<DesktopCase> {};

TEST_P(Desktops, WithoutOneTheFailureIsSaid) {
  const DesktopCase& c = GetParam();
  ScopedEnv display("DISPLAY", c.display);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  std::optional<ScopedEnv> path;
  if (c.path) path.emplace("PATH", c.path);
  const CopyOutcome outcome = copy_receipt_picture(root_.path, "收據-20261207-001");
  EXPECT_FALSE(outcome.copied);
  EXPECT_NE(outcome.message.find(c.message), std::string::npos) << outcome.message;
}

INSTANTIATE_TEST_SUITE_P(Failures, Desktops,
                         testing::Values(DesktopCase{"no_display", nullptr, nullptr,
                                                     "沒有桌面畫面（未設定 DISPLAY）"},
                                         DesktopCase{"xclip_missing", ":0", "/nonexistent", "找不到 xclip"},
                                         DesktopCase{"display_gone", ":4999", nullptr,
                                                     "xclip 失敗：Error: Can't open display: :4999"}),
                         CaseLabel{});

}  // namespace
}  // namespace receiptora::print
