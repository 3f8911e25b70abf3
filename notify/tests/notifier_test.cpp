// The notifier against a private session bus (dbus-daemon) and a notification server made
// here with GDBus, which records what it is sent and can click a notice's action.
#include "receiptora/notify/notifier.hpp"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../../core/tests/scoped_env.hpp"
#include "../../print/tests/private_display.hpp"
#include "../../store/tests/temp_folder.hpp"
#include "receiptora/print/clipboard.hpp"
#include "receiptora/store/book.hpp"

namespace receiptora::notify {
namespace {

using namespace std::chrono_literals;

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kXml = R"(<node><interface name="org.freedesktop.Notifications">
  <method name="Notify">
    <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
    <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
  </method></interface></node>)";

// A session bus of the test's own: `dbus-daemon --session --fork`, ended with the suite.
class PrivateBus {
 public:
  PrivateBus() {
    FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
    if (!out) return;
    char line[512];
    if (fgets(line, sizeof line, out)) address_ = std::string(line).substr(0, std::string(line).find('\n'));
    if (fgets(line, sizeof line, out)) pid_ = std::atoi(line);
    pclose(out);
  }
  ~PrivateBus() {
    if (pid_ > 0) kill(pid_, SIGTERM);
  }
  const std::string& address() const { return address_; }

 private:
  std::string address_;
  int pid_ = 0;
};

struct Received {
  std::string summary, body;
  std::vector<std::string> actions;
};

// Owns org.freedesktop.Notifications on the bus and answers Notify with ids 1, 2, 3 …
class FakeServer {
 public:
  explicit FakeServer(const std::string& address) {
    std::promise<void> ready;
    thread_ = std::thread([&] {
      g_main_context_push_thread_default(context_);
      start(address);
      ready.set_value();
      g_main_loop_run(loop_);
      g_dbus_connection_unregister_object(connection_, registration_);
      g_object_unref(connection_);
      g_main_context_pop_thread_default(context_);
    });
    ready.get_future().wait();
  }
  ~FakeServer() {
    g_main_context_invoke(
        context_,
        [](gpointer loop) -> gboolean {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }

  std::vector<Received> received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

  void click(guint32 id, const char* key = "default") {
    g_dbus_connection_emit_signal(connection_, nullptr, kPath, kName, "ActionInvoked",
                                  g_variant_new("(us)", id, key), nullptr);
  }

 private:
  void start(const std::string& address) {
    connection_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kXml, nullptr);
    static const GDBusInterfaceVTable vtable = {&FakeServer::on_call, nullptr, nullptr, {}};
    registration_ = g_dbus_connection_register_object(connection_, kPath, info->interfaces[0], &vtable, this,
                                                      nullptr, nullptr);
    g_dbus_node_info_unref(info);
    GVariant* reply =
        g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", kName, 4u),
                                    G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
  }

  static void on_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                      GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    FakeServer* self = static_cast<FakeServer*>(data);
    const gchar *app, *icon, *summary, *body;
    guint32 replaces = 0;
    gint32 expire = 0;
    GVariantIter* actions = nullptr;
    GVariant* hints = nullptr;
    g_variant_get(parameters, "(&su&s&s&sas@a{sv}i)", &app, &replaces, &icon, &summary, &body, &actions,
                  &hints, &expire);
    Received notice{summary, body, {}};
    const gchar* action = nullptr;
    while (g_variant_iter_next(actions, "&s", &action)) notice.actions.emplace_back(action);
    g_variant_iter_free(actions);
    g_variant_unref(hints);
    guint32 id = 0;
    {
      std::lock_guard lock(self->mutex_);
      self->received_.push_back(std::move(notice));
      id = static_cast<guint32>(self->received_.size());
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
  }

  GMainContext* context_ = g_main_context_new();
  GMainLoop* loop_ = g_main_loop_new(context_, FALSE);
  GDBusConnection* connection_ = nullptr;
  guint registration_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Received> received_;
};

class NotifierTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { bus_ = new PrivateBus(); }
  static void TearDownTestSuite() {
    delete bus_;
    bus_ = nullptr;
  }
  void SetUp() override {
    if (bus_->address().empty()) GTEST_SKIP() << "dbus-daemon is not installed";
  }
  static PrivateBus* bus_;
};
PrivateBus* NotifierTest::bus_ = nullptr;

enum class Bus { None, Unreachable, Private };

struct DeliveryCase {
  const char* label;
  Bus bus;
  bool server;
  std::string open_path;
  long delivered;
  std::vector<std::string> actions;
};

class Delivery : public NotifierTest, public testing::WithParamInterface<DeliveryCase> {};

TEST_P(Delivery, ReachesTheServerOrIsDroppedWithoutWaiting) {
  const DeliveryCase& c = GetParam();
  std::unique_ptr<FakeServer> server;
  if (c.server) server = std::make_unique<FakeServer>(bus_->address());
  const std::string address = c.bus == Bus::Private       ? bus_->address()
                              : c.bus == Bus::Unreachable ? "unix:path=/nonexistent/receiptora-bus"
                                                          : "";
  Notifier notifier(address);
  notifier.send({"已開立 收據-20261208-003", "", c.open_path});
  ASSERT_TRUE(notifier.wait_idle(5s));
  EXPECT_EQ(notifier.delivered(), c.delivered);
  if (!server) return;
  const std::vector<Received> received = server->received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].summary, "已開立 收據-20261208-003");
  EXPECT_EQ(received[0].actions, c.actions);
}

const DeliveryCase kDeliveries[] = {
    {"with_action", Bus::Private, true, "/tmp/收據.pdf", 1, {"default", "開啟 PDF"}},
    {"without_action", Bus::Private, true, "", 1, {}},
    {"no_server", Bus::Private, false, "/tmp/收據.pdf", 0, {}},
    {"unreachable_bus", Bus::Unreachable, false, "", 0, {}},
    {"no_bus", Bus::None, false, "", 0, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, Delivery, testing::ValuesIn(kDeliveries),
                         [](const auto& param) { return std::string(param.param.label); });

TEST_F(NotifierTest, ClickingTheActionOpensTheNoticesFile) {
  FakeServer server(bus_->address());
  std::mutex mutex;
  std::condition_variable opened_one;
  std::vector<std::string> opened;
  Notifier notifier(bus_->address(), [&](const std::string& path) {
    std::lock_guard lock(mutex);
    opened.push_back(path);
    opened_one.notify_all();
  });
  notifier.send({"first", "", "/tmp/a.pdf"});
  notifier.send({"second", "", "/tmp/b.pdf"});
  ASSERT_TRUE(notifier.wait_idle(5s));
  server.click(2);
  std::unique_lock lock(mutex);
  ASSERT_TRUE(opened_one.wait_for(lock, 5s, [&] { return !opened.empty(); }));
  EXPECT_EQ(opened, std::vector<std::string>{"/tmp/b.pdf"});
}

TEST_F(NotifierTest, AnOtherActionRunsItsFunctionOnce) {
  FakeServer server(bus_->address());
  std::mutex mutex;
  std::condition_variable ran_one;
  int voided = 0;
  std::vector<std::string> opened;
  Notifier notifier(bus_->address(), [&](const std::string& path) { opened.push_back(path); });
  notifier.send(
      {"已開立 收據-20261208-004", "與 收據-20261208-003 內容相同", "/tmp/a.pdf", {{"void", "作廢這張", [&] {
                                                                                      std::lock_guard lock(
                                                                                          mutex);
                                                                                      ++voided;
                                                                                      ran_one.notify_all();
                                                                                    }}}});
  ASSERT_TRUE(notifier.wait_idle(5s));
  EXPECT_EQ(server.received()[0].actions,
            (std::vector<std::string>{"default", "開啟 PDF", "void", "作廢這張"}));
  server.click(1, "void");
  server.click(1, "void");  // a second click finds the action gone
  server.click(1, "nothing");
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(ran_one.wait_for(lock, 5s, [&] { return voided > 0; }));
  }
  notifier.send({"after", "", ""});  // delivered after the clicks were handled
  ASSERT_TRUE(notifier.wait_idle(5s));
  std::lock_guard lock(mutex);
  EXPECT_EQ(voided, 1);
  EXPECT_TRUE(opened.empty());
}

// 「複製圖片」 on a receipt's notice runs print's copy_receipt_picture on the notifier's thread each
// time it is clicked (the clipboard is read back from a private X display), while 「作廢這張」 beside
// it still runs once.
TEST_F(NotifierTest, CopyPictureRunsAtEveryClickAndPutsThePngOnTheClipboard) {
  PrivateDisplay display;
  if (display.name().empty() || system("command -v xclip >/dev/null") != 0)
    GTEST_SKIP() << "Xvfb and xclip are needed";
  ScopedEnv on_display("DISPLAY", display.name().c_str());
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  store::TempFolder root;
  const std::string number = "收據-20261208-001", png = "2026-12/" + number + ".png";
  {
    std::filesystem::create_directories(root.path / "2026-12");
    store::Book book(root.path);
    store::Record r;
    r.number = number;
    r.date = "2026-12-08";
    r.state = store::State::Issued;
    r.files = {{png, "", "original"}};
    store::insert_record(book, r);
    store::write_text(root.path / png, store::kTinyPngBytes);
  }
  FakeServer server(bus_->address());
  std::mutex mutex;
  std::condition_variable ran;
  std::vector<std::string> outcomes;
  int voided = 0;
  auto note = [&](const std::string& outcome) {
    std::lock_guard lock(mutex);
    outcomes.push_back(outcome);
    ran.notify_all();
  };
  Notifier notifier(bus_->address());
  notifier.send({"已開立 " + number,
                 "",
                 "",
                 {{"copy", "複製圖片",
                   [&] {
                     const print::CopyOutcome outcome = print::copy_receipt_picture(root.path, number);
                     note(outcome.message);
                   },
                   false},
                  {"void", "作廢這張", [&] {
                     ++voided;
                     note("void");
                   }}}});
  ASSERT_TRUE(notifier.wait_idle(5s));
  EXPECT_EQ(server.received()[0].actions, (std::vector<std::string>{"copy", "複製圖片", "void", "作廢這張"}));
  for (const char* key : {"copy", "void", "void", "copy"}) server.click(1, key);
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(ran.wait_for(lock, 10s, [&] { return outcomes.size() >= 3; }));
  }
  notifier.send({"after", "", ""});  // delivered after every click was handled
  ASSERT_TRUE(notifier.wait_idle(5s));
  const std::string copied = "已複製 " + number + " 的圖片，可以貼到聊天或郵件";
  EXPECT_EQ(outcomes, (std::vector<std::string>{copied, "void", copied}));
  EXPECT_EQ(voided, 1);
  EXPECT_EQ(pasted_png(store::kTinyPngBytes), store::kTinyPngBytes);
}

}  // namespace
}  // namespace receiptora::notify
