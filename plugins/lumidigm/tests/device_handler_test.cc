// The device handler against a scripted main pipe: the records it sends,
// how it reads each reply, the status codes, the busy pipe, the fallback to
// local sensors and the search for the service host.
#include "plugins/lumidigm/transport/device_handler.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>

#include "platform/env.h"
#include "plugins/lumidigm/transport/service_messages.h"
#include "plugins/lumidigm/v100/packet.h"

namespace dactyra::v100 {
namespace {

using platform::IoResult;
using platform::IoStatus;

struct ServiceScript {
  std::vector<std::vector<uint8_t>> written;
  std::deque<std::vector<uint8_t>> replies;
  bool fail_write = false;
  std::vector<std::string> opened;  // every path an open was tried on
  int busy_opens = 0;               // opens that find the pipe busy first
  bool absent = false;              // no service at all
  std::vector<uint32_t> waits;
};

class ScriptedMainPipe : public platform::NamedPipe {
 public:
  explicit ScriptedMainPipe(ServiceScript& s) : s_(s) {}
  IoResult Read(uint8_t* buffer, uint32_t size, uint32_t) override {
    if (s_.replies.empty()) return {IoStatus::kFailed, 0, {109, u"broken"}};
    std::vector<uint8_t> r = std::move(s_.replies.front());
    s_.replies.pop_front();
    if (r.size() != size) return {IoStatus::kFailed, 0, {109, u"broken"}};
    std::copy(r.begin(), r.end(), buffer);
    return {IoStatus::kDone, size, {}};
  }
  IoResult Write(const uint8_t* buffer, uint32_t size, uint32_t) override {
    if (s_.fail_write) return {IoStatus::kFailed, 0, {109, u"broken"}};
    s_.written.emplace_back(buffer, buffer + size);
    return {IoStatus::kDone, size, {}};
  }

 private:
  ServiceScript& s_;
};

class FakeKey : public platform::RegistryKey {
 public:
  explicit FakeKey(std::optional<platform::Text> value) : value_(std::move(value)) {}
  std::optional<uint32_t> ReadInteger(const platform::Text&) const override { return {}; }
  std::optional<platform::Text> ReadText(const platform::Text& name) const override {
    return name == u"XDClientName" ? value_ : std::nullopt;
  }

 private:
  std::optional<platform::Text> value_;
};

class ServiceEnv : public platform::EnvWrapper {
 public:
  ServiceEnv() : EnvWrapper(platform::Env::Default()) {}

  std::unique_ptr<platform::NamedPipe> OpenNamedPipe(const platform::Text& path,
                                                     platform::IoError* error) override {
    script.opened.push_back(platform::ToUtf8(path));
    if (script.absent || script.busy_opens > 0) {
      error->code =
          script.absent ? platform::io_error::kFileNotFound : platform::io_error::kPipeBusy;
      if (script.busy_opens > 0) --script.busy_opens;
      return nullptr;
    }
    return std::make_unique<ScriptedMainPipe>(script);
  }
  bool WaitNamedPipe(const platform::Text&, uint32_t ms, platform::IoError*) override {
    script.waits.push_back(ms);
    return true;
  }
  bool ListDeviceInterfaces(const platform::Text&, std::vector<platform::Text>& paths,
                            platform::IoError*) override {
    paths.assign(local_devices, u"\\\\?\\local");
    return true;
  }
  std::unique_ptr<platform::RegistryKey> OpenRegistryKey(platform::RegistryRoot root,
                                                         const platform::Text& path) override {
    keys_opened.push_back(platform::ToUtf8(path));
    const auto& value = root == platform::RegistryRoot::kLocalMachine ? machine : user;
    if (!value) return nullptr;
    return std::make_unique<FakeKey>(*value);
  }

  ServiceScript script;
  int local_devices = 0;
  std::optional<std::optional<platform::Text>> machine, user;  // no key / key without value / value
  std::vector<std::string> keys_opened;
};

std::vector<uint8_t> CountReply(uint32_t count) {
  const auto r = EncodeServiceRequest({0, count, kLabelGetNumDevices});
  return {r.begin(), r.end()};
}
std::vector<uint8_t> DeviceReply(ServiceDeviceReply reply) {
  const auto r = EncodeDeviceReply(reply);
  return {r.begin(), r.end()};
}
std::vector<uint8_t> NamesReply(std::string second, std::string pipe) {
  const auto r = EncodeNamesReply({std::move(second), std::move(pipe)});
  return {r.begin(), r.end()};
}

TEST(DeviceHandler, RequestsAreFixedRecordsWithTheirLabels) {
  ServiceEnv env;
  env.script.replies = {CountReply(3)};
  V100DeviceHandler handler(env);
  int32_t count = 0;
  ASSERT_EQ(handler.GetNumDevices(count), 0);
  EXPECT_EQ(count, 3);
  ASSERT_EQ(env.script.written.size(), 1u);
  const auto& request = env.script.written[0];
  ASSERT_EQ(request.size(), 264u);
  EXPECT_EQ(LoadU32(request.data()), 0u);
  EXPECT_EQ(LoadU32(request.data() + 4), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(request.data() + 8)),
            "V100DeviceHandler::GetNumDevices");
  EXPECT_TRUE(
      std::all_of(request.begin() + 8 + 32, request.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(env.script.opened, std::vector<std::string>{"\\\\.\\PIPE\\LumiDeviceServiceMainPipe"});

  env.script.written.clear();
  env.script.replies = {DeviceReply({41, 5, 3, 0}), NamesReply("Sensor Forty-One", "LumiSensor41")};
  V100DeviceDescriptor d = NewDeviceDescriptor(env);
  ASSERT_EQ(handler.GetDevice(7, d), 0);
  ASSERT_EQ(env.script.written.size(), 2u);
  EXPECT_EQ(LoadU32(env.script.written[0].data()), 2u);
  EXPECT_EQ(LoadU32(env.script.written[0].data() + 4), 7u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(env.script.written[0].data() + 8)),
            "V100DeviceHandler::GetDevice");
  EXPECT_EQ(LoadU32(env.script.written[1].data()), 1u);
  EXPECT_EQ(LoadU32(env.script.written[1].data() + 4), 41u);  // the service id
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(env.script.written[1].data() + 8)),
            "V100DeviceHandler::GetDevice");
  EXPECT_EQ(d.transport_kind, 1u);
  EXPECT_EQ(d.index, 5u);
  EXPECT_EQ(d.service_id, 41u);
  EXPECT_EQ(d.kind_value, 3u);
  EXPECT_EQ(d.second_name, "Sensor Forty-One");
  EXPECT_EQ(d.pipe_name, "LumiSensor41");

  // Kind 2: a local USB sensor at the reply's index, no names request.
  env.script.written.clear();
  env.script.replies = {DeviceReply({9, 1, 2, 0})};
  ASSERT_EQ(handler.GetDevice(0, d), 0);
  EXPECT_EQ(env.script.written.size(), 1u);
  EXPECT_EQ(d.transport_kind, 0u);
  EXPECT_EQ(d.index, 1u);
  EXPECT_EQ(d.pipe_name, "");
  EXPECT_EQ(d.second_name, "");
}

TEST(DeviceHandler, StatusesAndBrokenExchangesMapToTheirCodes) {
  const std::pair<uint32_t, int32_t> statuses[] = {{1, 162}, {2, 163}, {3, 163},
                                                   {4, 162}, {5, 162}, {6, 164},
                                                   {7, 165}, {8, 162}, {0xFFFFFFFF, 162}};
  for (const auto& [status, code] : statuses) {
    ServiceEnv env;
    env.script.replies = {DeviceReply({1, 0, 3, status})};
    V100DeviceHandler handler(env);
    V100DeviceDescriptor d;
    EXPECT_EQ(handler.GetDevice(0, d), code) << status;
    EXPECT_EQ(env.script.written.size(), 1u);  // no names request after an error
  }
  struct Broken {
    bool fail_write;
    std::deque<std::vector<uint8_t>> replies;
    int32_t count_code, device_code;
  };
  const Broken broken[] = {
      {true, {}, 165, 165},
      {false, {}, 164, 164},
      // The names request of a kind-3 device fails to be answered.
      {false, {CountReply(0xFFFFFFF0u), DeviceReply({1, 0, 3, 0})}, 164, 164},
      // Counts and indexes beyond any sensible range are refused.
      {false, {CountReply(257), DeviceReply({1, 0x7FFFFFFF, 2, 0})}, 164, 164},
  };
  for (const Broken& b : broken) {
    ServiceEnv env;
    env.script.fail_write = b.fail_write;
    env.script.replies = b.replies;
    V100DeviceHandler handler(env);
    int32_t count = 5;
    EXPECT_EQ(handler.GetNumDevices(count), b.count_code);
    EXPECT_EQ(count, 0);
    V100DeviceDescriptor d;
    EXPECT_EQ(handler.GetDevice(0, d), b.device_code);
  }
}

TEST(DeviceHandler, UnterminatedNamesAreCutWithinTheirField) {
  ServiceEnv env;
  std::vector<uint8_t> names(520);
  std::fill(names.begin(), names.begin() + 260, 'S');
  std::fill(names.begin() + 260, names.end(), 'P');
  env.script.replies = {DeviceReply({1, 0, 4, 0}), names};
  V100DeviceHandler handler(env);
  V100DeviceDescriptor d;
  ASSERT_EQ(handler.GetDevice(0, d), 0);
  EXPECT_EQ(d.second_name, std::string(259, 'S'));
  EXPECT_EQ(d.pipe_name, std::string(259, 'P'));
}

TEST(DeviceHandler, WithoutAServiceTheLocalSensorsCount) {
  ServiceEnv env;
  env.script.absent = true;
  env.local_devices = 2;
  V100DeviceHandler handler(env);
  int32_t count = 0;
  ASSERT_EQ(handler.GetNumDevices(count), 0);
  EXPECT_EQ(count, 2);
  V100DeviceDescriptor d;
  d.pipe_name = "old";
  d.kind_value = 9;
  ASSERT_EQ(handler.GetDevice(1, d), 0);
  EXPECT_EQ(d.index, 1u);
  EXPECT_EQ(d.transport_kind, 0u);
  EXPECT_EQ(d.service_id, 1u);
  EXPECT_EQ(d.kind_value, 0u);
  EXPECT_EQ(d.pipe_name, "");
  EXPECT_EQ(handler.GetDevice(2, d), kNoSuchDevice);
}

TEST(DeviceHandler, ABusyPipeIsWaitedForOnceThenCountsAsAbsent) {
  ServiceEnv env;
  env.script.busy_opens = 1;
  env.script.replies = {CountReply(4)};
  V100DeviceHandler handler(env);
  int32_t count = 0;
  ASSERT_EQ(handler.GetNumDevices(count), 0);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(env.script.waits, std::vector<uint32_t>{200});
  EXPECT_EQ(env.script.opened.size(), 2u);

  ServiceEnv still_busy;
  still_busy.script.busy_opens = 5;
  still_busy.local_devices = 1;
  V100DeviceHandler local(still_busy);
  ASSERT_EQ(local.GetNumDevices(count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(still_busy.script.opened.size(), 2u);
}

TEST(DeviceHandler, ServiceHostComesFromTheMachineThenTheUserEnvironment) {
  using Value = std::optional<platform::Text>;
  struct Case {
    std::optional<Value> machine, user;
    std::string host;
  };
  const Case cases[] = {
      {Value(u"ALPHA"), Value(u"BETA"), "ALPHA"},
      {Value(), Value(u"BETA"), "BETA"},  // the machine key has no such value
      {std::nullopt, Value(u"BETA"), "BETA"},
      {std::nullopt, std::nullopt, "."},
      {Value(), Value(), "."},
      {Value(u"Estação"), std::nullopt, "Estação"},
      {Value(platform::Text(300, u'h')), std::nullopt, std::string(255, 'h')},
  };
  for (const Case& c : cases) {
    ServiceEnv env;
    env.machine = c.machine;
    env.user = c.user;
    env.script.absent = true;
    // In the ANSI code page (UTF-8 on POSIX); the pipe is named in UTF-16.
    EXPECT_EQ(ResolveServiceHost(env), platform::ToAnsi(platform::FromUtf8(c.host)));
    V100DeviceHandler handler(env);
    int32_t count;
    handler.GetNumDevices(count);
    EXPECT_EQ(env.script.opened.back(), "\\\\" + c.host + "\\PIPE\\LumiDeviceServiceMainPipe");
  }
  ServiceEnv env;
  ResolveServiceHost(env);
  EXPECT_EQ(env.keys_opened, (std::vector<std::string>{
                                 "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                                 "Environment"}));
}

TEST(DeviceHandler, InstancesAreSharedAndOutliveARelease) {
  auto a = V100DeviceHandler::GetInstance();
  auto b = V100DeviceHandler::GetInstance();
  EXPECT_EQ(a, b);
  V100DeviceHandler::ReleaseInstance();
  EXPECT_EQ(V100DeviceHandler::Current(), nullptr);
  // The holder still has a working handler.
  EXPECT_GE(a->LocalCount(), -1);
  auto c = V100DeviceHandler::GetInstance();
  EXPECT_NE(c, nullptr);
  V100DeviceHandler::ReleaseInstance();
}

}  // namespace
}  // namespace dactyra::v100
