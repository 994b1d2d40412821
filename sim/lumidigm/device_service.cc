// The simulated Lumidigm device service. It serves the main pipe
// "LumiDeviceServiceMainPipe" (counting, describing and naming devices)
// and, for each device it serves itself, a pipe of that device's own that
// relays usbcb-framed packets to a simulated sensor's USB pipes (one
// exchange at a time per sensor, whatever the number of clients). It runs
// until its standard input ends; "ready" on standard output tells that its
// pipes are there.
//
//   device_service [--device id=I,index=X,kind=K,status=S,pipe=P,second=N,relay=PATH]...
//                  [--count N] [--busy] [--silent] [--garbage count|index|names|short]
//
// --device entries answer the describe request for device numbers 0, 1, ...
// in order (a number beyond them gets status 1); --count overrides the
// count reply (default: the number of entries). --busy leaves the main
// pipe busy, --silent takes requests and never answers, --garbage spoils
// one kind of reply. An unknown option or a value that does not read ends
// it with status 2.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_interfaces.h"
#include "platform/named_pipes.h"
#include "plugins/lumidigm/transport/service_messages.h"
#include "plugins/lumidigm/transport/usbcb.h"
#include "sim/config/key_values.h"

namespace dactyra::sim::lumidigm {
namespace {

using platform::IoStatus;
using platform::NamedPipe;
using namespace dactyra::v100;

constexpr uint32_t kPoll = 200;
constexpr uint32_t kSensorWait = 10000;
constexpr uint32_t kLongest = 64u << 20;

std::atomic<bool> stopping{false};

struct ServedDevice {
  uint32_t id = 0, index = 0, kind = 0, status = 0;
  std::string pipe, second, relay;
};

struct Options {
  std::vector<ServedDevice> devices;
  int count = -1;
  bool busy = false, silent = false;
  std::string garbage;
};

using config::Number;

// The items of a --device value, "key=value" separated by commas.
const config::KeyTable<ServedDevice> kDeviceKeys = {
    {"id", [](ServedDevice& d, std::string_view v) { d.id = Number<uint32_t>(v); }},
    {"index", [](ServedDevice& d, std::string_view v) { d.index = Number<uint32_t>(v); }},
    {"kind", [](ServedDevice& d, std::string_view v) { d.kind = Number<uint32_t>(v); }},
    {"status", [](ServedDevice& d, std::string_view v) { d.status = Number<uint32_t>(v); }},
    {"pipe", [](ServedDevice& d, std::string_view v) { d.pipe = v; }},
    {"second", [](ServedDevice& d, std::string_view v) { d.second = v; }},
    {"relay", [](ServedDevice& d, std::string_view v) { d.relay = v; }},
};

void AddDevice(Options& o, std::string_view text) {
  ServedDevice device;
  for (size_t start = 0; start <= text.size();) {
    const size_t end = std::min(text.find(',', start), text.size());
    const std::string_view item = text.substr(start, end - start);
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      throw std::invalid_argument("'" + std::string(item) + "' is not key=value");
    }
    kDeviceKeys.ApplyItem(device, item.substr(0, eq), item.substr(eq + 1));
    start = end + 1;
  }
  o.devices.push_back(device);
}

const config::KeyTable<Options> kKeys = {
    {"device", AddDevice},
    {"count", [](Options& o, std::string_view v) { o.count = Number<int>(v); }},
    {"busy", [](Options& o, std::string_view v) { o.busy = config::Flag(v); }},
    {"silent", [](Options& o, std::string_view v) { o.silent = config::Flag(v); }},
    {"garbage",
     [](Options& o, std::string_view v) {
       o.garbage = config::Choice(v, {std::pair{"count", "count"},
                                      {"index", "index"},
                                      {"names", "names"},
                                      {"short", "short"}});
     }},
};

// Reads a whole record, waiting as long as it takes unless stopping.
bool ReadWhole(NamedPipe& pipe, uint8_t* data, uint32_t size) {
  uint32_t got = 0;
  while (got < size) {
    const platform::IoResult r = pipe.Read(data + got, size - got, kPoll);
    got += r.bytes;
    if (r.status == IoStatus::kFailed || stopping) return false;
  }
  return true;
}

bool Write(NamedPipe& pipe, const uint8_t* data, uint32_t size) {
  return pipe.Write(data, size, 5000).done();
}

void ServeMain(std::unique_ptr<NamedPipe> client, const Options& o) {
  for (;;) {
    std::array<uint8_t, kServiceRequestSize> bytes;
    if (!ReadWhole(*client, bytes.data(), kServiceRequestSize)) return;
    const ServiceRequest request = DecodeServiceRequest(bytes);
    if (o.silent) continue;
    if (o.garbage == "short") {
      client->Write(bytes.data(), 100, 1000);
      return;  // the reply breaks off
    }
    switch (request.code) {
      case kServiceCountDevices: {
        if (request.label != kLabelGetNumDevices)
          std::fprintf(stderr, "device service: label %s\n", request.label.c_str());
        uint32_t count =
            o.count >= 0 ? static_cast<uint32_t>(o.count) : static_cast<uint32_t>(o.devices.size());
        if (o.garbage == "count") count = 0xFFFFFFF0u;
        const auto reply = EncodeServiceRequest({0, count, request.label});
        Write(*client, reply.data(), kServiceRequestSize);
        break;
      }
      case kServiceDescribeDevice: {
        ServiceDeviceReply reply{0, 0, 0, 1};
        if (request.argument < o.devices.size()) {
          const ServedDevice& d = o.devices[request.argument];
          reply = {d.id, d.index, d.kind, d.status};
        }
        if (o.garbage == "index") reply.device_index = 0x7FFFFFFF;
        auto bytes_out = EncodeDeviceReply(reply);
        // The part the plug-in does not read carries noise, as a real
        // service's would.
        for (size_t i = 12; i < 2352; ++i) bytes_out[i] = static_cast<uint8_t>(i * 31);
        Write(*client, bytes_out.data(), kServiceDeviceReplySize);
        break;
      }
      case kServiceGetNames: {
        ServiceNamesReply names;
        for (const ServedDevice& d : o.devices) {
          if (d.id == request.argument) names = {d.second, d.pipe};
        }
        auto out = EncodeNamesReply(names);
        if (o.garbage == "names") {
          // No terminator in either text.
          std::fill(out.begin(), out.begin() + kServiceTextSize, uint8_t{'S'});
          std::fill(out.begin() + kServiceTextSize, out.end(), uint8_t{'P'});
        }
        Write(*client, out.data(), kServiceNamesReplySize);
        break;
      }
      default:
        std::fprintf(stderr, "device service: request code %u\n", request.code);
        return;
    }
  }
}

// The service owns each sensor it serves: it opens the sensor's USB pipes
// once for all its clients (a device's pipe has one host on Windows), and
// one exchange at a time reaches it, whichever client sent it, as the
// pipes carry one request and its answer at a time.
struct Sensor {
  std::mutex exchange;
  // Open while the sensor answers; dropped when an exchange fails, so a
  // sensor that went and came back is opened afresh.
  std::unique_ptr<platform::DevicePipe> out, in;
};

Sensor& SensorAt(const std::string& device_path) {
  static std::mutex guard;
  static std::map<std::string, Sensor> sensors;
  std::lock_guard lock(guard);
  return sensors[device_path];
}

// Opens the sensor's pipes unless they are open; the caller holds its
// exchange lock.
bool OpenSensor(Sensor& sensor, const std::string& device_path) {
  if (sensor.out && sensor.in) return true;
  const platform::Text base = platform::FromUtf8(device_path);
  sensor.out = platform::DevicePipe::Open(base + u"\\PIPE_0x01");
  sensor.in = platform::DevicePipe::Open(base + u"\\PIPE_0x00");
  if (!sensor.out || !sensor.in) {
    sensor.out.reset();
    sensor.in.reset();
    std::fprintf(stderr, "device service: sensor %s is not there\n", device_path.c_str());
    return false;
  }
  // Whatever the sensor sent that nobody took (an answer to a service that
  // went away mid-exchange) would be taken for the answer to this
  // service's first request: a new host starts from an empty pipe, as
  // reopening a device resets its pipes.
  uint8_t stale[4096];
  while (sensor.in->Read(stale, sizeof stale, 0).bytes != 0) {
  }
  return true;
}

// One exchange with the sensor: the usbcb-framed request in `usbcb` and
// `buffer` goes out, and its answer comes back in them. A failed exchange
// closes the sensor's pipes, as what is left in them belongs to no one.
bool Exchange(Sensor& sensor, const std::string& device_path, uint8_t* usbcb,
              std::vector<uint8_t>& buffer) {
  std::lock_guard exchange(sensor.exchange);
  if (!OpenSensor(sensor, device_path)) return false;
  const uint32_t size = static_cast<uint32_t>(buffer.size());
  bool done = sensor.out->Write(usbcb, kUsbcbSize, kSensorWait).done() &&
              sensor.out->Write(buffer.data(), size, kSensorWait).done() &&
              sensor.in->Read(usbcb, kUsbcbSize, kSensorWait).done();
  const uint32_t answer = done ? LoadU32(usbcb + 8) : 0;
  done = done && answer <= kLongest;
  if (done) {
    buffer.resize(answer);
    done = sensor.in->Read(buffer.data(), answer, kSensorWait).done();
  }
  if (!done) {
    sensor.out.reset();
    sensor.in.reset();
  }
  return done;
}

// One client of a served device's pipe: each usbcb-framed request goes to
// the sensor's USB pipes and its answer comes back the same way.
void Relay(std::unique_ptr<NamedPipe> client, std::string device_path) {
  Sensor& sensor = SensorAt(device_path);
  {
    std::lock_guard exchange(sensor.exchange);
    if (!OpenSensor(sensor, device_path)) return;
  }
  std::vector<uint8_t> buffer;
  for (;;) {
    uint8_t usbcb[kUsbcbSize];
    if (!ReadWhole(*client, usbcb, kUsbcbSize)) return;
    const uint32_t size = LoadU32(usbcb + 8);
    if (size > kLongest) return;
    buffer.resize(size);
    if (!ReadWhole(*client, buffer.data(), size)) return;
    if (!Exchange(sensor, device_path, usbcb, buffer)) return;
    if (!Write(*client, usbcb, kUsbcbSize) ||
        !Write(*client, buffer.data(), static_cast<uint32_t>(buffer.size()))) {
      return;
    }
  }
}

// Accepts clients of `server` until stopping, each on a thread of its own.
template <typename Serve>
void AcceptLoop(platform::NamedPipeServer& server, Serve serve) {
  std::vector<std::thread> clients;
  while (!stopping) {
    auto client = server.Accept(platform::kInfinite);
    if (!client) break;
    clients.emplace_back(serve, std::move(client));
  }
  for (auto& t : clients) t.join();
}

int Run(const Options& o) {
  platform::IoError error;
  auto main_pipe = platform::NamedPipeServer::Create(u"\\\\.\\PIPE\\LumiDeviceServiceMainPipe",
                                                     o.busy ? 0 : 16, &error);
  if (!main_pipe) {
    std::fprintf(stderr, "device service: main pipe: %s\n",
                 platform::ToUtf8(error.message).c_str());
    return 1;
  }
  // Busy: the one waiting place is taken by a connection nobody accepts.
  std::unique_ptr<NamedPipe> filler;
  if (o.busy) filler = NamedPipe::Open(u"\\\\.\\PIPE\\LumiDeviceServiceMainPipe");

  std::vector<std::unique_ptr<platform::NamedPipeServer>> device_pipes;
  std::vector<std::thread> threads;
  for (const ServedDevice& d : o.devices) {
    if (d.pipe.empty() || d.relay.empty()) continue;
    auto server = platform::NamedPipeServer::Create(u"\\\\.\\PIPE\\" + platform::FromUtf8(d.pipe),
                                                    16, &error);
    if (!server) {
      std::fprintf(stderr, "device service: pipe %s: %s\n", d.pipe.c_str(),
                   platform::ToUtf8(error.message).c_str());
      return 1;
    }
    const std::string relay = d.relay;
    threads.emplace_back([&s = *server, relay] {
      AcceptLoop(s, [relay](std::unique_ptr<NamedPipe> c) { Relay(std::move(c), relay); });
    });
    device_pipes.push_back(std::move(server));
  }
  if (!o.busy) {
    threads.emplace_back([&] {
      AcceptLoop(*main_pipe, [&o](std::unique_ptr<NamedPipe> c) { ServeMain(std::move(c), o); });
    });
  }
  std::printf("ready\n");
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  stopping = true;
  main_pipe->Shutdown();
  for (auto& s : device_pipes) s->Shutdown();
  for (auto& t : threads) t.join();
  return 0;
}

}  // namespace
}  // namespace dactyra::sim::lumidigm

int main(int argc, char** argv) {
  using namespace dactyra::sim::lumidigm;
  Options o;
  try {
    kKeys.Apply(
        o, dactyra::sim::config::ParseArguments(argc, argv, {"busy", "silent"}, "device service"),
        "device service");
  } catch (const dactyra::sim::config::ConfigError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
  return Run(o);
}
