// SPDX-License-Identifier: GPL-3.0-or-later
// The emulated monitors checked against tools that work on real monitors:
// ddcutil and i2c-tools, run inside the testbed. Where they and the model
// disagree on the wire format, the model is wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "kernel/KernelTestbed.hpp"
#include "kernel/MonitorEdid.hpp"

using namespace std::chrono_literals;

namespace {
const auto kEdid = makeEdid("DMA", 0x1234, 42, "Emulated");

// ddcutil's "VCP code 0x10 (Brightness ...): current value = 70, max value = 100".
std::optional<std::pair<int, int>> ddcutilBrightness(const std::string& output) {
  std::smatch match;
  if (!std::regex_search(output, match, std::regex(R"(current value\s*=\s*(\d+),\s*max value\s*=\s*(\d+))")))
    return std::nullopt;
  return std::pair(std::stoi(match[1]), std::stoi(match[2]));
}

bool anyTransfer(const MonitorModel& monitor, const std::string& meaning) {
  const auto transfers = monitor.transfers();
  return std::any_of(transfers.begin(), transfers.end(),
                     [&](const MonitorTransfer& t) { return t.meaning.find(meaning) != std::string::npos; });
}

class EmulatedMonitor : public ::testing::Test {
 protected:
  KernelTestbed testbed;

  // `arguments` for ddcutil on `bus`; its output, and its exit status in `status`.
  std::string ddcutil(int bus, const std::string& arguments, int* status = nullptr) {
    return testbed.run("ddcutil --bus " + std::to_string(bus) + " " + arguments, status);
  }
};
}  // namespace

// Maximums other than 100 read as the monitor says them.
TEST_F(EmulatedMonitor, DdcutilReadsAndSetsItsBrightness) {
  const struct {
    const char* connector;
    std::uint16_t maximum, current, set;
  } cases[] = {{"DP-1", 100, 70, 33}, {"DP-2", 255, 85, 254}, {"DP-3", 65535, 21845, 65534}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.maximum);
    auto [bus, monitor] = testbed.plugMonitor(c.connector, kEdid, {.maximum = c.maximum, .brightness = c.current});
    int status = -1;
    auto output = ddcutil(bus, "getvcp 10", &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(ddcutilBrightness(output), std::pair(int{c.current}, int{c.maximum})) << output;
    // It identified the monitor by the EDID at 0x50 before talking DDC/CI.
    EXPECT_TRUE(anyTransfer(*monitor, "edid"));
    output = ddcutil(bus, "setvcp 10 " + std::to_string(c.set), &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(monitor->brightness(), c.set);
    const auto writes = monitor->brightnessWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value, c.set);
    EXPECT_EQ(ddcutilBrightness(ddcutil(bus, "getvcp 10")), std::pair(int{c.set}, int{c.maximum}));
  }
}

TEST_F(EmulatedMonitor, DdcutilDetectsTheMonitorsOnEveryConnector) {
  testbed.plugMonitor("DP-1", kEdid);
  testbed.plugMonitor("HDMI-A-1", makeEdid("DMB", 0x4321, 7, "Second"));
  const auto output = testbed.run("ddcutil detect");
  for (const char* seen : {"/dev/i2c-3", "/dev/i2c-4", "Emulated", "Second"})
    EXPECT_NE(output.find(seen), std::string::npos) << output;
  EXPECT_EQ(output.find("Invalid display"), std::string::npos) << output;
}

TEST_F(EmulatedMonitor, CombinedTransfersAndPlainReadsAndWritesReachTheSameMonitor) {
  auto [bus, monitor] = testbed.plugMonitor("DP-1", kEdid, {.brightness = 70});
  const std::string busText = std::to_string(bus);
  // The EDID: its offset written, then the block read, in one I2C_RDWR.
  auto output = testbed.run("i2ctransfer -y " + busText + " w1@0x50 0x00 r128@0x50");
  std::string expected;
  for (const auto b : kEdid) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x ", b);
    expected += text;
  }
  EXPECT_EQ(output, expected.substr(0, expected.size() - 1) + "\n");
  // Get VCP 0x10 and its reply: 0x6E's source byte, length, opcode, result, code, type, max, current, checksum.
  output = testbed.run("i2ctransfer -y " + busText + " w5@0x37 0x51 0x82 0x01 0x10 0xac r11@0x37");
  EXPECT_EQ(output, "0x6e 0x88 0x02 0x00 0x10 0x00 0x00 0x64 0x00 0x46 0x86\n");
  // Set VCP, then Get VCP and its reply, through I2C_SLAVE, write() and read().
  output = testbed.run("python3 -c \"import fcntl, os\n"
                       "fd = os.open('/dev/i2c-" + busText + "', os.O_RDWR)\n"
                       "fcntl.ioctl(fd, 0x0703, 0x37)\n"
                       "os.write(fd, bytes([0x51, 0x84, 0x03, 0x10, 0x00, 0x2a, 0x89 ^ 0x21 ^ 0x2a]))\n"
                       "os.write(fd, bytes([0x51, 0x82, 0x01, 0x10, 0xac]))\n"
                       "print(os.read(fd, 11).hex())\"");
  EXPECT_EQ(monitor->brightness(), 42);
  EXPECT_EQ(output, "6e88020010000064002aea\n");
}

// Each behaviour is one a tool built for real monitors copes with, or fails
// on, as it would on a real monitor.
TEST_F(EmulatedMonitor, BehavioursMeetDdcutilAsRealMonitorsDo) {
  // Coped with: a reply that takes 50 ms (ddcutil waits that long anyway), every other reply
  // corrupted (rejected by its checksum and asked again), every other try NAKed (retried).
  const struct {
    const char* connector;
    MonitorBehaviour behaviour;
    const char* seen;  // a transfer's meaning
    int reads;
  } coped[] = {{"DP-1", {.brightness = 70, .replyPreparation = 50ms}, "reply 0x10 70/100", 1},
               {"DP-3", {.brightness = 70, .corruptEveryNthReply = 2}, "corrupted", 3},
               {"DP-4", {.brightness = 70, .answersEveryOtherTry = true}, "nak (every other try)", 1}};
  for (const auto& c : coped) {
    SCOPED_TRACE(c.seen);
    auto [bus, monitor] = testbed.plugMonitor(c.connector, kEdid, c.behaviour);
    for (int i = 0; i < c.reads; ++i) EXPECT_EQ(ddcutilBrightness(ddcutil(bus, "getvcp 10")), std::pair(70, 100));
    EXPECT_TRUE(anyTransfer(*monitor, c.seen));
  }
  {
    SCOPED_TRACE("a reply that takes 150 ms: null messages until ddcutil is told to wait longer");
    auto [bus, monitor] = testbed.plugMonitor("DP-2", kEdid, {.brightness = 70, .replyPreparation = 150ms});
    ddcutil(bus, "getvcp 10");
    EXPECT_TRUE(anyTransfer(*monitor, "null reply (not ready)"));
    EXPECT_EQ(ddcutilBrightness(ddcutil(bus, "--sleep-multiplier 4 getvcp 10")), std::pair(70, 100));
  }
  {
    SCOPED_TRACE("a slow monitor: each transfer takes 100 ms, and ddcutil gets there");
    auto [bus, monitor] = testbed.plugMonitor("DP-7", kEdid, {.brightness = 70, .transferTime = 100ms});
    const auto started = MonitorClock::now();
    EXPECT_EQ(ddcutilBrightness(ddcutil(bus, "getvcp 10")), std::pair(70, 100));
    const auto transfers = monitor->transfers();
    const auto ddcci = std::count_if(transfers.begin(), transfers.end(),
                                     [](const MonitorTransfer& t) { return t.address == MonitorModel::kDDCCIAddress; });
    EXPECT_GE(MonitorClock::now() - started, ddcci * 100ms);
  }
  {
    SCOPED_TRACE("a Set VCP too soon after the monitor's last message is ignored");
    auto [bus, monitor] = testbed.plugMonitor("DP-8", kEdid, {.brightness = 70, .setQuietTime = 500ms});
    ddcutil(bus, "setvcp 10 20");  // right after ddcutil's own checks
    EXPECT_EQ(monitor->brightness(), 70);
    EXPECT_TRUE(anyTransfer(*monitor, "ignored set 0x10=20"));
  }
  {
    SCOPED_TRACE("DDC/CI off: the EDID still answers, DDC/CI never does");
    auto [bus, monitor] = testbed.plugMonitor("DP-5", kEdid, {.brightness = 70, .ddcciEnabled = false});
    int status = 0;
    const auto output = ddcutil(bus, "getvcp 10", &status);
    EXPECT_NE(status, 0) << output;
    EXPECT_FALSE(ddcutilBrightness(output));
    EXPECT_TRUE(anyTransfer(*monitor, "edid"));
    EXPECT_TRUE(anyTransfer(*monitor, "nak (DDC/CI off)"));
    EXPECT_FALSE(anyTransfer(*monitor, "reply"));
  }
  {
    SCOPED_TRACE("in standby for a while: NAKs, then answers again");
    auto [bus, monitor] = testbed.plugMonitor("DP-6", kEdid, {.brightness = 70, .standbyAtStart = 60s});
    int status = 0;
    EXPECT_FALSE(ddcutilBrightness(ddcutil(bus, "getvcp 10", &status)));
    EXPECT_NE(status, 0);
    EXPECT_TRUE(anyTransfer(*monitor, "nak (standby)"));
    monitor->standbyFor(0ms);
    EXPECT_EQ(ddcutilBrightness(ddcutil(bus, "getvcp 10")), std::pair(70, 100));
  }
}
