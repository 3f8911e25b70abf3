#include "receiptora/notify/notifier.hpp"

#include <gio/gio.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>

namespace receiptora::notify {

namespace {

constexpr const char* kBusName = "org.freedesktop.Notifications";
constexpr const char* kObjectPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 2000;
constexpr std::size_t kKeptActions = 64;  // notices whose action can still open a file

void open_with_desktop(const std::string& path) {
  gchar* argv[] = {const_cast<gchar*>("xdg-open"), const_cast<gchar*>(path.c_str()), nullptr};
  // Without G_SPAWN_DO_NOT_REAP_CHILD GLib reaps the child itself: no zombie stays behind.
  g_spawn_async(nullptr, argv, nullptr,
                GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                nullptr, nullptr, nullptr, nullptr);
}

// D-Bus strings must be UTF-8; a stray byte would make the whole call invalid.
std::string valid_utf8(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  std::string result(valid);
  g_free(valid);
  return result;
}

}  // namespace

struct Notifier::State {
  std::string address;
  Opener open;
  GMainContext* context = g_main_context_new();
  GMainLoop* loop = g_main_loop_new(context, FALSE);
  GCancellable* cancellable = g_cancellable_new();
  std::thread thread;

  // Used on the notifier's thread only.
  GDBusConnection* connection = nullptr;
  guint subscriptions[2] = {0, 0};
  struct Actions {
    std::string open_path;
    std::vector<NoticeAction> others;
  };
  std::map<guint32, Actions> actions;  // notification id → what its actions do
  long in_flight = 0;

  std::mutex mutex;
  std::condition_variable idle;
  long pending = 0;  // sent but not yet delivered or dropped; guarded by mutex
  std::atomic<long> delivered{0};

  ~State() {
    g_object_unref(cancellable);
    g_main_loop_unref(loop);
    g_main_context_unref(context);
  }

  void finish_one() {
    std::lock_guard lock(mutex);
    if (--pending == 0) idle.notify_all();
  }

  void run() {
    g_main_context_push_thread_default(context);
    connect();
    g_main_loop_run(loop);
    // Shutting down: calls still waiting for their answer are cancelled and finished.
    g_cancellable_cancel(cancellable);
    while (in_flight > 0) g_main_context_iteration(context, TRUE);
    if (connection) {
      for (guint id : subscriptions)
        if (id) g_dbus_connection_signal_unsubscribe(connection, id);
      g_object_unref(connection);
    }
    g_main_context_pop_thread_default(context);
  }

  void connect() {
    if (address.empty()) return;
    GError* error = nullptr;
    connection = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable, &error);
    if (!connection) {
      g_error_free(error);
      return;
    }
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    subscriptions[0] = g_dbus_connection_signal_subscribe(connection, kBusName, kInterface, "ActionInvoked",
                                                          kObjectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                          &State::on_action, this, nullptr);
    subscriptions[1] = g_dbus_connection_signal_subscribe(
        connection, kBusName, kInterface, "NotificationClosed", kObjectPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, &State::on_closed, this, nullptr);
  }

  struct Call {
    State* state;
    Actions actions;
  };

  void deliver(const Notice& notice) {
    if (!connection) {
      finish_one();
      return;
    }
    GVariantBuilder action_list;
    g_variant_builder_init(&action_list, G_VARIANT_TYPE("as"));
    if (!notice.open_path.empty()) {
      g_variant_builder_add(&action_list, "s", "default");
      g_variant_builder_add(&action_list, "s", "開啟 PDF");
    }
    for (const NoticeAction& action : notice.actions) {
      g_variant_builder_add(&action_list, "s", valid_utf8(action.key).c_str());
      g_variant_builder_add(&action_list, "s", valid_utf8(action.label).c_str());
    }
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    const std::string summary = valid_utf8(notice.summary), body = valid_utf8(notice.body);
    GVariant* parameters = g_variant_new("(susssasa{sv}i)", "Receiptora", 0u, "", summary.c_str(),
                                         body.c_str(), &action_list, &hints, -1);
    ++in_flight;
    g_dbus_connection_call(connection, kBusName, kObjectPath, kInterface, "Notify", parameters,
                           G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable,
                           &State::on_reply, new Call{this, {notice.open_path, notice.actions}});
  }

  static void on_reply(GObject* source, GAsyncResult* result, gpointer data) {
    Call* call = static_cast<Call*>(data);
    State* state = call->state;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply) {
      guint32 id = 0;
      g_variant_get(reply, "(u)", &id);
      g_variant_unref(reply);
      if (!call->actions.open_path.empty() || !call->actions.others.empty()) {
        state->actions[id] = std::move(call->actions);
        if (state->actions.size() > kKeptActions) state->actions.erase(state->actions.begin());
      }
      ++state->delivered;
    } else {
      g_error_free(error);  // no server, or it did not answer in time: the notice is dropped
    }
    delete call;
    --state->in_flight;
    state->finish_one();
  }

  static void on_action(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                        GVariant* parameters, gpointer data) {
    State* state = static_cast<State*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) return;
    guint32 id = 0;
    const gchar* key = nullptr;
    g_variant_get(parameters, "(u&s)", &id, &key);
    auto found = state->actions.find(id);
    if (found == state->actions.end()) return;
    if (std::string_view(key) == "default") {
      if (!found->second.open_path.empty()) state->open(found->second.open_path);
      return;
    }
    std::vector<NoticeAction>& others = found->second.others;
    for (auto action = others.begin(); action != others.end(); ++action) {
      if (action->key != key || !action->run) continue;
      // An action meant once is gone after its click: a second click does nothing.
      const std::function<void()> run = action->run;
      if (action->once) others.erase(action);
      run();
      return;
    }
  }

  static void on_closed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                        GVariant* parameters, gpointer data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) return;
    guint32 id = 0, reason = 0;
    g_variant_get(parameters, "(uu)", &id, &reason);
    static_cast<State*>(data)->actions.erase(id);
  }
};

Notifier::Notifier(std::string bus_address, Opener open) : state_(std::make_shared<State>()) {
  state_->address = std::move(bus_address);
  state_->open = open ? std::move(open) : Opener(open_with_desktop);
  state_->thread = std::thread([state = state_.get()] { state->run(); });
}

Notifier::~Notifier() {
  g_main_context_invoke(
      state_->context,
      [](gpointer loop) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
      },
      state_->loop);
  state_->thread.join();
}

void Notifier::send(Notice notice) {
  {
    std::lock_guard lock(state_->mutex);
    ++state_->pending;
  }
  struct Job {
    State* state;
    Notice notice;
  };
  g_main_context_invoke_full(
      state_->context, G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        Job* job = static_cast<Job*>(data);
        job->state->deliver(job->notice);
        return G_SOURCE_REMOVE;
      },
      new Job{state_.get(), std::move(notice)}, [](gpointer data) { delete static_cast<Job*>(data); });
}

bool Notifier::wait_idle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(state_->mutex);
  return state_->idle.wait_for(lock, timeout, [&] { return state_->pending == 0; });
}

long Notifier::delivered() const { return state_->delivered; }

Notifier& Notifier::session() {
  // Made once and kept for the life of the process: its thread may still be answering the
  // bus when static objects are destroyed.
  static Notifier* notifier = [] {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return new Notifier(address ? address : "");
  }();
  return *notifier;
}

}  // namespace receiptora::notify
