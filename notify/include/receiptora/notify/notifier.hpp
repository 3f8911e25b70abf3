// Desktop notifications through the freedesktop Notifications interface on a D-Bus.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace receiptora::notify {

// A button on a notice besides its default action; `run` is called on the notifier's thread.
struct NoticeAction {
  std::string key;    // what the server reports back ("void"); never "default"
  std::string label;  // the button's text (「作廢這張」)
  std::function<void()> run;
  bool once = true;  // 作廢這張 runs once; 複製圖片 may be clicked again
};

struct Notice {
  std::string summary;
  std::string body;
  std::string open_path;  // a file the notification's default action opens; "" for none
  std::vector<NoticeAction> actions = {};
};

// Sends notices from a thread of its own, so send() never waits for the bus. Without a bus
// or a notification server the notices are dropped: nothing fails and nothing blocks.
// Clicking a notice opens its file with `open` (xdg-open by default), on that thread; its other
// actions run their own functions there.
class Notifier {
 public:
  using Opener = std::function<void(const std::string& path)>;

  // bus_address: a D-Bus address ("unix:path=…"); "" means no bus.
  explicit Notifier(std::string bus_address, Opener open = {});
  ~Notifier();
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  void send(Notice notice);
  // Waits until every notice sent so far was delivered or dropped; false on timeout.
  bool wait_idle(std::chrono::milliseconds timeout);
  // Notices delivered to a server so far.
  long delivered() const;

  // The process's notifier on the session bus ($DBUS_SESSION_BUS_ADDRESS), made on first use.
  static Notifier& session();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace receiptora::notify
