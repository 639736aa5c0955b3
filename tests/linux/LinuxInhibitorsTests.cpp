// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "SessionBusTestSupport.hpp"
#include "platform/linux/LinuxInhibitors.hpp"
#include "platform/sim/VirtualMainLoop.hpp"

namespace {
using Holder = Inhibitors::Holder;
using What = Inhibitors::What;

// logind and GNOME's session manager on one private bus, answering from a
// thread of their own; signals are sent from that thread too, as their owner.
class InhibitingServices {
 public:
  explicit InhibitingServices(const std::string& address) : connection_(address) {
    sd_bus* bus = connection_.get();
    ok_ = bus && sd_bus_request_name(bus, "org.gnome.SessionManager", 0) >= 0 &&
          sd_bus_request_name(bus, "org.freedesktop.login1", 0) >= 0 &&
          sd_bus_add_object(bus, &gnome_, "/org/gnome/SessionManager", &InhibitingServices::isInhibited, this) >= 0 &&
          sd_bus_add_object(bus, &logind_, "/org/freedesktop/login1", &InhibitingServices::listInhibitors, this) >= 0;
    server_ = std::thread([this] {
      while (serving_) {
        while (sd_bus_process(connection_.get(), nullptr) > 0) {
        }
        std::vector<std::function<void(sd_bus*)>> sends;
        {
          std::lock_guard lock(mutex_);
          sends.swap(sends_);
        }
        for (const auto& send : sends) send(connection_.get());
        sent_ += static_cast<int>(sends.size());
        sd_bus_wait(connection_.get(), 10'000);
      }
    });
  }
  ~InhibitingServices() {
    serving_ = false;
    server_.join();
    sd_bus_slot_unref(gnome_);
    sd_bus_slot_unref(logind_);
  }
  bool ok() const { return ok_; }
  // Waits until every signal asked for has gone out.
  bool allSent() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (sent_ < asked_ && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return sent_ == asked_;
  }

  std::atomic<bool> gnomeInhibited = false;
  std::atomic<bool> videoPlaying = false;

  // logind's change of a Manager property, as sd-bus sends it.
  void propertyChanged(const char* property) {
    send([property](sd_bus* bus) {
      sd_bus_message* signal = nullptr;
      sd_bus_message_new_signal(bus, &signal, "/org/freedesktop/login1", "org.freedesktop.DBus.Properties",
                                "PropertiesChanged");
      sd_bus_message_append(signal, "sa{sv}as", "org.freedesktop.login1.Manager", 1, property, "s", "idle", 0);
      sd_bus_send(bus, signal, nullptr);
      sd_bus_message_unref(signal);
    });
  }
  void gnomeSignal(const char* member) {
    send([member](sd_bus* bus) {
      sd_bus_emit_signal(bus, "/org/gnome/SessionManager", "org.gnome.SessionManager", member, "o",
                         "/org/gnome/SessionManager/Inhibitor7");
    });
  }

 private:
  void send(std::function<void(sd_bus*)> what) {
    std::lock_guard lock(mutex_);
    sends_.push_back(std::move(what));
    ++asked_;
  }
  static int isInhibited(sd_bus_message* call, void* self, sd_bus_error*) {
    if (!sd_bus_message_is_method_call(call, "org.gnome.SessionManager", "IsInhibited")) return 0;
    std::uint32_t flags = 0;
    sd_bus_message_read(call, "u", &flags);
    const bool idle = flags == LinuxInhibitors::kGnomeInhibitIdle;
    return sd_bus_reply_method_return(call, "b", idle && static_cast<InhibitingServices*>(self)->gnomeInhibited);
  }
  static int listInhibitors(sd_bus_message* call, void* self, sd_bus_error*) {
    if (!sd_bus_message_is_method_call(call, "org.freedesktop.login1.Manager", "ListInhibitors")) return 0;
    sd_bus_message* reply = nullptr;
    sd_bus_message_new_method_return(call, &reply);
    sd_bus_message_open_container(reply, SD_BUS_TYPE_ARRAY, "(ssssuu)");
    sd_bus_message_append(reply, "(ssssuu)", "sleep", "NetworkManager", "wait", "delay", 0, 700);
    if (static_cast<InhibitingServices*>(self)->videoPlaying)
      sd_bus_message_append(reply, "(ssssuu)", "idle", "mpv", "Playing video", "block", 1000, 4321);
    sd_bus_message_close_container(reply);
    const int r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
  }

  BusConnection connection_;
  sd_bus_slot* gnome_ = nullptr;
  sd_bus_slot* logind_ = nullptr;
  bool ok_ = false;
  std::atomic<bool> serving_ = true;
  std::atomic<int> asked_ = 0;
  std::atomic<int> sent_ = 0;
  std::mutex mutex_;
  std::vector<std::function<void(sd_bus*)>> sends_;
  std::thread server_;
};

// Dispatches the session's buses and the loop until `done` holds, for at most two seconds.
bool pumpUntil(DBusSession& session, VirtualMainLoop& loop, const std::function<bool()>& done) {
  return pumpBuses({session.sessionBus()}, done, 2, [&] {
    session.process();
    loop.runPending();
  });
}
}  // namespace

TEST(LinuxInhibitors, BlockingInhibitorsAreHeldWithTheirHolders) {
  std::vector<LogindInhibitor> inhibitors{{"idle:sleep", "mpv", "Playing video", "block", 1000, 4321},
                                          {"sleep", "NetworkManager", "wait", "delay", 0, 700},
                                          {"handle-lid-switch", "gdm", "lid", "block", 0, 800},
                                          {"shutdown:idleness", "updater", "Upgrade", "block", 0, 900}};
  EXPECT_EQ(LinuxInhibitors::holders(inhibitors, true, true),
            (std::vector<Holder>{{"4321 mpv", What::idle, "Playing video"},
                                 {"4321 mpv", What::sleep, "Playing video"},
                                 {"session inhibitor", What::idle, "GNOME session"},
                                 {"compositor", What::idle, "an application's idle inhibitor (zwp_idle_inhibitor_v1)"}}));
  // Nothing held is an answer; no source answering is none.
  EXPECT_EQ(LinuxInhibitors::holders(std::vector<LogindInhibitor>{}, std::nullopt), std::vector<Holder>{});
  EXPECT_EQ(LinuxInhibitors::holders(std::nullopt, false), std::vector<Holder>{});
  EXPECT_EQ(LinuxInhibitors::holders(std::nullopt, std::nullopt), std::nullopt);
}

TEST(LinuxInhibitors, LogindAndGnomesSessionManagerSignalTheirChanges) {
  PrivateSessionBus bus;  // stands in for both buses
  ASSERT_TRUE(bus.isRunning());
  VirtualMainLoop loop;
  {
    DBusSession nobodyToAsk(bus.address(), bus.address());
    ASSERT_TRUE(nobodyToAsk.hasSystemBus() && nobodyToAsk.hasSessionBus());
    EXPECT_EQ(LinuxInhibitors::connect(nobodyToAsk, loop), nullptr);
  }
  InhibitingServices services(bus.address());
  ASSERT_TRUE(services.ok());
  DBusSession session(bus.address(), bus.address());
  const auto inhibitors = LinuxInhibitors::connect(session, loop);
  ASSERT_NE(inhibitors, nullptr);
  int changes = 0;
  const auto subscription = inhibitors->changed.connect([&] { ++changes; });
  EXPECT_EQ(inhibitors->held(), std::vector<Holder>{});  // a delay inhibitor holds nothing awake
  EXPECT_EQ(loop.pendingCount(), 0u);                     // nothing is polled

  services.videoPlaying = true;
  services.propertyChanged("BlockInhibited");
  ASSERT_TRUE(pumpUntil(session, loop, [&] { return changes == 1; }));
  EXPECT_EQ(inhibitors->held(), (std::vector<Holder>{{"4321 mpv", What::idle, "Playing video"}}));

  // Another property of logind's says nothing. The bus delivers the signal before the reply to a later call.
  services.propertyChanged("IdleHint");
  ASSERT_TRUE(services.allSent());
  EXPECT_EQ(inhibitors->held(), (std::vector<Holder>{{"4321 mpv", What::idle, "Playing video"}}));
  session.process();
  loop.runPending();
  EXPECT_EQ(changes, 1);

  services.gnomeInhibited = true;
  services.gnomeSignal("InhibitorAdded");
  ASSERT_TRUE(pumpUntil(session, loop, [&] { return changes == 2; }));
  EXPECT_EQ(inhibitors->held(), (std::vector<Holder>{{"4321 mpv", What::idle, "Playing video"},
                                                     {"session inhibitor", What::idle, "GNOME session"}}));
  services.videoPlaying = false;
  services.gnomeInhibited = false;
  services.gnomeSignal("InhibitorRemoved");
  ASSERT_TRUE(pumpUntil(session, loop, [&] { return changes == 3; }));
  EXPECT_EQ(inhibitors->held(), std::vector<Holder>{});
}

// Where only the compositor can be asked, its answer alone is polled, and a change is announced once.
TEST(LinuxInhibitors, TheCompositorAloneIsPolled) {
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.isRunning());
  VirtualMainLoop loop;
  DBusSession session(bus.address(), bus.address());
  std::optional<bool> held = false;
  const auto inhibitors = LinuxInhibitors::connect(session, loop, [&] { return held; });
  ASSERT_NE(inhibitors, nullptr);
  int changes = 0;
  const auto subscription = inhibitors->changed.connect([&] { ++changes; });
  held = true;
  loop.advance(LinuxInhibitors::kCompositorPollSeconds - 0.1);
  EXPECT_EQ(changes, 0);
  loop.advance(LinuxInhibitors::kCompositorPollTolerance + 0.1);
  EXPECT_EQ(changes, 1);
  loop.advance(3 * LinuxInhibitors::kCompositorPollSeconds);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(inhibitors->held(), (std::vector<Holder>{{"compositor", What::idle,
                                                      "an application's idle inhibitor (zwp_idle_inhibitor_v1)"}}));
}
