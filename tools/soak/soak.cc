// dactyra_soak: a long run with faults, through the scanners as Java drives
// them, that counts what the library keeps. In one process it drives a
// scanner list (each call under the scanners' lock, as the entry points
// take it; images delivered on each run's event thread, where a Java
// listener runs) on every reader of a private machine made of stand-ins: a V100
// sensor on USB pipes and one behind the device service (programs of their
// own), a Virdi reader (UCBioBSP stand-in), an FPSmm reader, the test
// plug-in delivering images, and the test plug-in ignoring
// VXR_ShutdownDevice while its VXR_GetImage waits. Meanwhile it injects, at
// random (a fixed seed):
//   - start and stop cycles, some stops made from inside the image listener
//     on the event thread (and half of those starting again from there);
//   - the USB sensor vanishing (killed) and coming back, answering one
//     status poll late (past the transport's budget), or sending one short
//     composite image;
//   - the device service killed and started again; the served sensor too.
// Every delivered V100 image must be its sensor's finger, whole.
//
// At the end it prints images per reader, the faults injected, the longest
// stop, and open descriptors, threads and resident memory after a warm-up
// and at the end (both with every scanner stopped). It exits with 1 when a
// stop took longer than its bound, a V100 image was not the finger, a
// reader other than the ignoring one delivered nothing, or descriptors,
// threads or memory grew beyond their allowance; with 3 when an action
// hung: a watchdog prints what it was, how long past its bound, and the
// report so far, and ends the run rather than hang with it.
//
//   dactyra_soak [--minutes M] [--seed N] [--stop-bound-ms N]
//                [--rss-allowance-mb N] [--fd-allowance N] [--thread-allowance N]
//                [--stuck-call-ms N] [--without ignoring-plugin]
//
// --stuck-call-ms: how long each VXR_GetImage of the plug-in that ignores
// VXR_ShutdownDevice lasts (default 5000; 0: it never returns, and a
// library whose stop waits for it hangs: the watchdog ends the run).
// --without ignoring-plugin leaves out the reader whose plug-in ignores
// VXR_ShutdownDevice, for a run that must pass on a library whose stop
// still waits out such a plug-in's call (holding the scanners' lock
// meanwhile, so that the other readers' stops wait too). The report names
// what was left out.
//
// The built stand-ins' paths are compiled in; the private folder is made
// under $TMPDIR (or /tmp) and removed at the end.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/capture_module.h"
#include "capture/reader_manager.h"
#include "capture/velmora_error.h"
#include "platform/env.h"
#include "scanning/inner_scanner.h"
#include "scanning/reader_access.h"
#include "scanning/scanner_list.h"
#include "scanning/scanners_lock.h"
#include "sim/fingerprint/fingerprint.h"
#include "platform/testing/child_process.h"
#include "support/exception.h"

namespace dactyra::soak {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using platform::Text;
using platform::testing::ChildProcess;

constexpr char kLumidigmClass[] = "{06B62F68-E35E-4F57-8BE2-A5BC6CCCC708}";
constexpr int kWidth = 160, kHeight = 120;
constexpr uint64_t kUsbSeed = 11, kServedSeed = 13;
// How long an action may take before the watchdog calls it hung: long
// past any stop's bound, so that a slow stop is measured and reported as
// such, and only one that does not end ends the run.
constexpr int kHungAfterMs = 30000;
// How long a stand-in program may take to be ready: it draws its finger
// first, slow under a sanitizer on a busy machine.
constexpr int kReadyMs = 60000;
// Actions that start stand-in programs or wait for first images get the
// time for that on top.
constexpr int kStartingBoundMs = kReadyMs + kHungAfterMs;
constexpr char kIgnoringPlugin[] = "ignoring-plugin";

int64_t MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Options {
  double minutes = 10;
  uint64_t seed = 1;
  int stop_bound_ms = 2000;
  long rss_allowance_mb = 16;
  int fd_allowance = 4;
  int thread_allowance = 2;
  // The ignoring plug-in's VXR_GetImage returns this long after it began,
  // whatever a stop asked; 0: never.
  int stuck_call_ms = 5000;
  std::set<std::string> without;  // cases left out
  bool With(const std::string& test_case) const { return !without.count(test_case); }
};

// --- Resources of this process ---------------------------------------------

struct Resources {
  long fds = 0;
  long threads = 0;
  long rss_kb = 0;
};

long StatusField(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name + ":", 0) == 0)
      return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
  }
  return -1;
}

Resources Probe() {
  Resources r;
  std::error_code error;
  for (auto it = fs::directory_iterator("/proc/self/fd", error);
       !error && it != fs::directory_iterator(); it.increment(error)) {
    ++r.fds;
  }
  r.threads = StatusField("Threads");
  r.rss_kb = StatusField("VmRSS");
  return r;
}

// --- Readers ------------------------------------------------------------------

// One reader and its scanner.
struct Reader {
  std::string name;
  std::vector<uint8_t> finger;  // what every image must be (V100 readers)
  bool ignores_shutdown = false;
  TInnerScanner* scanner = nullptr;  // the list's, until it is emptied
  std::atomic<long> images{0};
  std::atomic<long> bad_images{0};
  // A stop asked of the listener: 0 none, 1 asked, 2 under way, 3 done.
  std::atomic<int> listener_stop{0};
  std::atomic<bool> restart_in_listener{false};
};

// What happened, for the report; every field under `lock`.
struct Tally {
  std::mutex lock;
  std::map<std::string, long> faults;
  int64_t longest_stop_ms = 0;
  std::string longest_stop_of;
  // Per reader: stops and the longest (ms).
  std::map<std::string, std::pair<long, int64_t>> stops_of;
  long stops = 0, stops_over_bound = 0, stops_refused = 0, starts_refused = 0;
  long listener_stops = 0, listener_stops_refused = 0, listener_restarts = 0,
       listener_restarts_refused = 0;
  std::vector<std::string> problems;

  void Fault(const std::string& kind) {
    std::lock_guard guard(lock);
    ++faults[kind];
  }
  void Stop(const std::string& reader, int64_t ms, int bound) {
    std::lock_guard guard(lock);
    ++stops;
    if (ms > longest_stop_ms) longest_stop_ms = ms, longest_stop_of = reader;
    auto& [count, longest] = stops_of[reader];
    ++count;
    longest = std::max(longest, ms);
    if (ms > bound) {
      ++stops_over_bound;
      problems.push_back("a stop of " + reader + " took " + std::to_string(ms) + " ms");
    }
  }
  void Problem(const std::string& text) {
    std::lock_guard guard(lock);
    problems.push_back(text);
  }
};

// What the controller is doing, for the watchdog.
struct Progress {
  std::mutex lock;
  // Three programs started, the readers listed.
  std::string doing = "setting up";
  int bound_ms = 3 * kReadyMs + kHungAfterMs;
  Clock::time_point since = Clock::now();
  void Set(std::string what, int bound = kHungAfterMs) {
    std::lock_guard guard(lock);
    doing = std::move(what);
    bound_ms = bound;
    since = Clock::now();
  }
};

class Delivery;

class Soak {
 public:
  explicit Soak(const Options& options) : options_(options), random_(options.seed) {}

  int Run();

 private:
  bool SetUp();
  void StartSensors();
  std::unique_ptr<ChildProcess> StartSensor(const std::string& name, const std::string& serial_low,
                                          uint64_t seed, const std::string& devices,
                                          std::vector<std::string> more = {});
  std::unique_ptr<ChildProcess> StartService();
  void RemoveDeviceFolder(const std::string& devices, const std::string& name);
  bool MakeReaders();
  void OnImage(Reader& reader, const TGrayImage& image);
  // Starts a run of the reader's scanner whose images come to OnImage;
  // false when it was refused. Under the scanners' lock.
  bool StartRun(Reader& reader);
  void Start(Reader& reader);
  void Stop(Reader& reader);
  void StopFromListener(Reader& reader);
  bool Capturing(Reader& reader);
  void StopAll();
  void Act();
  void ReplaceUsbSensor(int away_ms, std::vector<std::string> more);
  void InjectSensorFault();
  void Watchdog();
  // The figures so far; resources when both were probed.
  void Report(const Resources* start, const Resources* end, int64_t run_ms);
  friend class Delivery;
  int Random(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  Options options_;
  std::mt19937_64 random_;
  std::string root_, devices_, service_devices_, modules_;
  std::unique_ptr<ChildProcess> usb_sensor_, served_sensor_, service_;
  std::unique_ptr<TVxGestorLeitores> manager_;
  std::unique_ptr<TAcessoGestor> access_;
  std::unique_ptr<TListaScanners> scanners_;
  // The scanners' lock as the entry points take it: on an event thread
  // whose run is being stopped it refuses instead of waiting.
  TTravaScanners lock_;
  std::vector<std::unique_ptr<Reader>> readers_;
  Tally tally_;
  Progress progress_;
  std::atomic<bool> finished_{false};
  // readers_ is whole and not changing: the watchdog may read it.
  std::atomic<bool> readers_ready_{false};
  Clock::time_point began_ = Clock::now();
};

bool Soak::SetUp() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/dactyra-soak-XXXXXX";
  if (!mkdtemp(pattern.data())) return false;  // made 0700: a private runtime
  root_ = pattern;
  devices_ = root_ + "/devices";
  service_devices_ = root_ + "/service-devices";
  modules_ = root_ + "/modules";
  for (const auto& folder : {devices_, service_devices_, root_ + "/pipes", modules_,
                             root_ + "/registry", root_ + "/plugins"}) {
    // Every folder private to this user, as the library and the stand-ins
    // require of the folders they trust.
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
  }
  // The modules of an installation, found through DACTYRA_MODULE_PATH.
  fs::copy_file(VXR_LUMIDIGM_PATH, modules_ + "/vxr_lumidigm.so");
  fs::copy_file(VXR_VIRDI_PATH, modules_ + "/vxr_virdi.so");
  fs::copy_file(UCBIOBSP_PATH, modules_ + "/UCBioBSP.so");
  fs::copy_file(FPSMM_SIM_PATH, modules_ + "/FPSmmSoak.so");
  fs::copy_file(VXR_TEST_PLUGIN_PATH, modules_ + "/vxr_plug.so");
  if (options_.With(kIgnoringPlugin)) {
    fs::copy_file(VXR_TEST_PLUGIN_PATH, modules_ + "/vxr_stuck.so");
  }
  std::ofstream(root_ + "/plugins/vxr_plug.conf")
      << "prefix=Plug\ndevice=S1\nmax=" << kWidth << "x" << kHeight
      << "\nimage_delay_ms=50\nfrozen=1\nquiet=1\n";
  std::ofstream(root_ + "/plugins/vxr_stuck.conf")
      << "prefix=Stuck\ndevice=S2\nimages=0\nidle="
      << (options_.stuck_call_ms > 0 ? "timeout:" + std::to_string(options_.stuck_call_ms)
                                     : "block")
      << "\nignore_shutdown=1\nfrozen=1\nquiet=1\n";
  std::ofstream(root_ + "/ucbiobsp.conf")
      << "reader=7 " << kWidth << "x" << kHeight << " frames=3 frame_ms=30 seed=21 name=Soak\n";
  std::ofstream(root_ + "/fpsmm.conf") << "quiet=1\nid=Soak\\FP-0042\nsize=" << kWidth << "x"
                                       << kHeight << "\ninterval_ms=100\npixels=finger\nseed=41\n";
  setenv("DACTYRA_RUNTIME", root_.c_str(), 1);
  setenv("DACTYRA_DEVICES", devices_.c_str(), 1);
  setenv("DACTYRA_PIPES", (root_ + "/pipes").c_str(), 1);
  setenv("DACTYRA_REGISTRY", (root_ + "/registry").c_str(), 1);
  setenv("DACTYRA_MODULE_PATH", modules_.c_str(), 1);
  setenv("VXR_TEST_DIR", (root_ + "/plugins").c_str(), 1);
  setenv("DACTYRA_UCBIOBSP_CONFIG", (root_ + "/ucbiobsp.conf").c_str(), 1);
  setenv("FPSMM_SIM_CONFIG", (root_ + "/fpsmm.conf").c_str(), 1);
  unsetenv("XDClientName");
  return true;
}

std::unique_ptr<ChildProcess> Soak::StartSensor(const std::string& name,
                                              const std::string& serial_low, uint64_t seed,
                                              const std::string& devices,
                                              std::vector<std::string> more) {
  std::vector<std::string> args = {"--name",       name,
                                   "--serial-low", serial_low,
                                   "--width",      std::to_string(kWidth),
                                   "--height",     std::to_string(kHeight),
                                   "--finger",     std::to_string(seed)};
  args.insert(args.end(), more.begin(), more.end());
  auto p = std::make_unique<ChildProcess>(
      V100_SENSOR_PATH, args, std::map<std::string, std::string>{{"DACTYRA_DEVICES", devices}});
  if (!p->WaitReady(kReadyMs)) tally_.Problem("the sensor " + name + " did not start");
  return p;
}

// The service lists the USB sensor (kind 2: reached through its own pipes)
// and serves the other, which sits on a device folder only it sees.
std::unique_ptr<ChildProcess> Soak::StartService() {
  auto p = std::make_unique<ChildProcess>(
      DEVICE_SERVICE_PATH,
      std::vector<std::string>{
          "--device", "id=0,index=0,kind=2,status=0", "--device",
          "id=1,index=1,kind=3,status=0,pipe=LumiSoak,second=Served,relay=\\\\?\\served"},
      std::map<std::string, std::string>{{"DACTYRA_DEVICES", service_devices_}});
  if (!p->WaitReady(kReadyMs)) tally_.Problem("the device service did not start");
  return p;
}

// A program that was killed leaves its device folder; the system removes
// the interface of a device that went away.
void Soak::RemoveDeviceFolder(const std::string& devices, const std::string& name) {
  std::error_code error;
  fs::remove_all(devices + "/" + kLumidigmClass + "/" + name, error);
}

void Soak::StartSensors() {
  usb_sensor_ = StartSensor("usb", "0x0A01", kUsbSeed, devices_);
  served_sensor_ = StartSensor("served", "0x0C03", kServedSeed, service_devices_);
  service_ = StartService();
}

// The images of one run, on its event thread.
class Delivery : public TEntregaEventos {
 public:
  Delivery(Soak& soak, Reader& reader) : soak_(soak), reader_(reader) {}
  void Executar(const std::function<void()>& loop) override { loop(); }
  void Entregar(const TGrayImage& image) override;

 private:
  Soak& soak_;
  Reader& reader_;
};

bool Soak::MakeReaders() {
  // No DigitalPersona readers on this machine.
  manager_ = std::make_unique<TVxGestorLeitores>(true, platform::Env::Default(),
                                                 TLeitoresUareU::Nenhum());
  access_ = std::make_unique<TAcessoGestor>(*manager_);
  scanners_ = std::make_unique<TListaScanners>(*access_, platform::Env::Default());
  const auto finger = [](uint64_t seed) {
    return sim::fingerprint::Finger::Generate(seed).Render(kWidth, kHeight).pixels;
  };
  std::lock_guard guard(lock_);
  const int count = scanners_->ContarLeitores();
  for (int i = 0; i < count; ++i) {
    const int64_t handle = scanners_->PegScanner(i);
    if (handle == 0) continue;
    auto reader = std::make_unique<Reader>();
    reader->scanner = &scanners_->Scanner(handle);
    reader->name = platform::ToUtf8(reader->scanner->NumSerie());
    if (reader->name == "Lumidigm\\12340A01") reader->finger = finger(kUsbSeed);
    if (reader->name == "Lumidigm\\12340C03") reader->finger = finger(kServedSeed);
    reader->ignores_shutdown = reader->name.rfind("Stuck\\", 0) == 0;
    readers_.push_back(std::move(reader));
  }
  std::printf("readers:");
  for (const auto& r : readers_) std::printf(" %s", r->name.c_str());
  std::printf("\n");
  std::fflush(stdout);
  // Two V100 sensors, the Virdi and FPSmm readers, the two test plug-ins.
  const size_t expected = options_.With(kIgnoringPlugin) ? 6 : 5;
  if (readers_.size() != expected) {
    std::string modules;
    for (const TCaptureModule* m : manager_->Modulos())
      modules += " " + platform::ToUtf8(m->Name());
    tally_.Problem("found " + std::to_string(readers_.size()) + " readers, not " +
                   std::to_string(expected) + "; modules:" + modules);
    return false;
  }
  return true;
}

void Delivery::Entregar(const TGrayImage& image) { soak_.OnImage(reader_, image); }

bool Soak::StartRun(Reader& reader) {
  try {
    return reader.scanner->StartCapturing(std::make_shared<Delivery>(*this, reader));
  } catch (const Exception&) {
    // A reader whose sensor is away right now cannot be activated.
    return false;
  }
}

void Soak::OnImage(Reader& reader, const TGrayImage& image) {
  reader.images.fetch_add(1);
  if (!reader.finger.empty()) {
    const auto pixels = image.Bits.Pixels();
    if (image.Width != kWidth || image.Height != kHeight ||
        !std::equal(pixels.begin(), pixels.end(), reader.finger.begin(), reader.finger.end())) {
      reader.bad_images.fetch_add(1);
    }
  }
  int asked = 1;
  if (!reader.listener_stop.compare_exchange_strong(asked, 2)) return;
  // The listener stops its own scanner, as a Java listener calls
  // stopCapturing, and then may start it again.
  const auto start = Clock::now();
  bool stopped = true, restarted = false;
  try {
    std::lock_guard guard(lock_);
    reader.scanner->StopCapturing();
  } catch (const Exception&) {
    stopped = false;
  }
  tally_.Stop(reader.name + " (from its listener)", MsSince(start), options_.stop_bound_ms);
  const bool restart = stopped && reader.restart_in_listener.load();
  if (restart) {
    try {
      std::lock_guard guard(lock_);
      restarted = StartRun(reader);
    } catch (const Exception&) {
      // The lock refused: this run is being stopped.
    }
  }
  {
    std::lock_guard guard(tally_.lock);
    ++tally_.listener_stops;
    if (!stopped) ++tally_.listener_stops_refused;
    if (restart) ++tally_.listener_restarts;
    if (restart && !restarted) ++tally_.listener_restarts_refused;
  }
  reader.listener_stop.store(3);
}

void Soak::Start(Reader& reader) {
  progress_.Set("starting " + reader.name, kStartingBoundMs);
  std::lock_guard guard(lock_);
  if (reader.scanner->IsCapturing()) return;
  if (!StartRun(reader)) {
    std::lock_guard tally(tally_.lock);
    ++tally_.starts_refused;
  }
}

void Soak::Stop(Reader& reader) {
  progress_.Set("stopping " + reader.name);
  if (reader.ignores_shutdown) tally_.Fault("stop of a plug-in that ignores VXR_ShutdownDevice");
  const auto start = Clock::now();
  try {
    std::lock_guard guard(lock_);
    reader.scanner->StopCapturing();
  } catch (const Exception& e) {
    if (reader.ignores_shutdown) {
      // Within its bound, "not stopped" is the sound answer for a reader
      // whose plug-in goes on with its call.
      std::lock_guard guard(tally_.lock);
      ++tally_.stops_refused;
    } else {
      tally_.Problem("a stop of " + reader.name + " raised: " + e.what());
    }
  }
  tally_.Stop(reader.name, MsSince(start), options_.stop_bound_ms);
}

bool Soak::Capturing(Reader& reader) {
  std::lock_guard guard(lock_);
  return reader.scanner->IsCapturing();
}

// Asks the listener to stop its scanner at its next image, and waits until
// it has (or, when no image comes, takes the request back).
void Soak::StopFromListener(Reader& reader) {
  progress_.Set("stopping " + reader.name + " from its listener");
  reader.restart_in_listener.store(Random(0, 1) == 1);
  reader.listener_stop.store(1);
  const auto start = Clock::now();
  while (MsSince(start) < 3000) {
    if (reader.listener_stop.load() == 3) break;
    Sleep(10);
  }
  int asked = 1;
  if (!reader.listener_stop.compare_exchange_strong(asked, 0)) {
    // Taken by the listener: wait for it to finish (the watchdog bounds it).
    while (reader.listener_stop.load() != 3) Sleep(10);
    reader.listener_stop.store(0);
    tally_.Fault(reader.restart_in_listener.load() ? "stop and restart in a listener"
                                                   : "stop in a listener");
  }
}

void Soak::StopAll() {
  for (auto& reader : readers_) {
    if (Capturing(*reader)) Stop(*reader);
  }
}

// The USB sensor killed (its device folder gone with it) and started
// again after `away_ms` with the options `more`.
void Soak::ReplaceUsbSensor(int away_ms, std::vector<std::string> more) {
  usb_sensor_->Kill();
  RemoveDeviceFolder(devices_, "usb");
  Sleep(away_ms);
  usb_sensor_ = StartSensor("usb", "0x0A01", kUsbSeed, devices_, std::move(more));
}

void Soak::InjectSensorFault() {
  switch (Random(0, 4)) {
    case 0:  // the USB sensor goes, and comes back after a while
      progress_.Set("the USB sensor away", kStartingBoundMs);
      ReplaceUsbSensor(Random(200, 1500), {});
      tally_.Fault("USB sensor vanished and came back");
      break;
    case 1:  // one status poll answered past the transport's budget
      progress_.Set("the USB sensor answering late", kStartingBoundMs);
      ReplaceUsbSensor(0, {"--fault", "slow:6000@" + std::to_string(Random(2, 6)) + "#72"});
      tally_.Fault("late answer");
      break;
    case 2:  // one composite image cut short, in a whole packet
      progress_.Set("the USB sensor sending a short image", kStartingBoundMs);
      ReplaceUsbSensor(
          0, {"--fault", "short-image:" + std::to_string(Random(0, kWidth * kHeight - 1)) + "@" +
                             std::to_string(Random(1, 3)) + "#67"});
      tally_.Fault("short image");
      break;
    case 3: {  // the device service goes, and comes back
      progress_.Set("the device service away", kStartingBoundMs);
      service_->Kill();
      Sleep(Random(200, 1500));
      service_ = StartService();
      tally_.Fault("device service vanished and came back");
      break;
    }
    case 4: {  // the sensor behind the service goes, and comes back
      progress_.Set("the served sensor away", kStartingBoundMs);
      served_sensor_->Kill();
      RemoveDeviceFolder(service_devices_, "served");
      Sleep(Random(200, 1500));
      served_sensor_ = StartSensor("served", "0x0C03", kServedSeed, service_devices_);
      tally_.Fault("served sensor vanished and came back");
      break;
    }
  }
}

void Soak::Act() {
  Reader& reader = *readers_[Random(0, static_cast<int>(readers_.size()) - 1)];
  const int pick = Random(0, 99);
  if (pick < 45) {
    if (Capturing(reader)) {
      Stop(reader);
    } else {
      Start(reader);
    }
  } else if (pick < 65) {
    if (Capturing(reader) && !reader.ignores_shutdown) {
      StopFromListener(reader);
    } else {
      Start(reader);
    }
  } else if (pick < 85) {
    InjectSensorFault();
  } else {
    progress_.Set("waiting");
    Sleep(Random(200, 800));
  }
}

void Soak::Watchdog() {
  while (!finished_.load()) {
    Sleep(500);
    std::string doing;
    int64_t for_ms;
    int bound_ms;
    {
      std::lock_guard guard(progress_.lock);
      doing = progress_.doing;
      for_ms = MsSince(progress_.since);
      bound_ms = progress_.bound_ms;
    }
    if (for_ms < bound_ms) continue;
    const std::string what =
        doing + ": no end after " + std::to_string(for_ms) + " ms" +
        (doing.rfind("stopping", 0) == 0
             ? " (a stop's bound is " + std::to_string(options_.stop_bound_ms) + " ms)"
             : "");
    std::printf("\nhung: %s\n", what.c_str());
    tally_.Problem("hung: " + what);
    Report(nullptr, nullptr, MsSince(began_));
    // Nothing of the library is taken down: what hangs would hang that
    // too. The stand-ins end with their standard input.
    std::error_code error;
    fs::remove_all(root_, error);
    std::_Exit(3);
  }
}

void Soak::Report(const Resources* start, const Resources* end, int64_t run_ms) {
  std::lock_guard guard(tally_.lock);
  std::printf("\nsoak of %.1f minutes (seed %llu)\n", run_ms / 60000.0,
              static_cast<unsigned long long>(options_.seed));
  if (!options_.without.empty()) {
    std::printf("left out:");
    for (const auto& c : options_.without) std::printf(" %s", c.c_str());
    std::printf("\n");
  }
  std::printf("%-24s %8s %6s %8s\n", "per reader", "images", "stops", "longest");
  static const decltype(readers_) none;
  for (const auto& r : readers_ready_.load() ? readers_ : none) {
    const auto stops = tally_.stops_of[r->name];
    const auto listener_stops = tally_.stops_of[r->name + " (from its listener)"];
    std::printf("  %-22s %8ld %6ld %5lld ms%s\n", r->name.c_str(), r->images.load(),
                stops.first + listener_stops.first,
                static_cast<long long>(std::max(stops.second, listener_stops.second)),
                r->bad_images.load()
                    ? (" (" + std::to_string(r->bad_images.load()) + " not the finger)").c_str()
                    : "");
  }
  std::printf("faults injected:\n");
  for (const auto& [kind, count] : tally_.faults)
    std::printf("  %-40s %6ld\n", kind.c_str(), count);
  std::printf("stops: %ld, longest %lld ms (%s), bound %d ms, over it %ld\n", tally_.stops,
              static_cast<long long>(tally_.longest_stop_ms), tally_.longest_stop_of.c_str(),
              options_.stop_bound_ms, tally_.stops_over_bound);
  std::printf("stops answered \"not stopped\" (the ignoring plug-in): %ld\n", tally_.stops_refused);
  std::printf("starts refused (the reader away): %ld\n", tally_.starts_refused);
  std::printf("stops from a listener: %ld (refused %ld), restarts there: %ld (refused %ld)\n",
              tally_.listener_stops, tally_.listener_stops_refused, tally_.listener_restarts,
              tally_.listener_restarts_refused);
  if (start && end) {
    std::printf("%-20s %10s %10s %10s\n", "", "start", "end", "allowance");
    std::printf("%-20s %10ld %10ld %10d\n", "open descriptors", start->fds, end->fds,
                options_.fd_allowance);
    std::printf("%-20s %10ld %10ld %10d\n", "threads", start->threads, end->threads,
                options_.thread_allowance);
    std::printf("%-20s %10ld %10ld %10ld\n", "resident KiB", start->rss_kb, end->rss_kb,
                options_.rss_allowance_mb * 1024);
  }
  if (!tally_.problems.empty()) {
    std::printf("problems:\n");
    for (const auto& p : tally_.problems) std::printf("  %s\n", p.c_str());
  }
  std::fflush(stdout);
}

int Soak::Run() {
  if (!SetUp()) {
    std::fprintf(stderr, "dactyra_soak: no private folder\n");
    return 1;
  }
  std::thread watchdog([this] { Watchdog(); });
  StartSensors();
  int status = 0;
  const bool made = MakeReaders();
  readers_ready_.store(true);
  if (!made) {
    Report(nullptr, nullptr, 0);
  } else {
    // Warm-up: every reader started, left until it delivered (the
    // stand-ins draw their fingers first), and stopped, so that what the
    // library keeps for good (modules, their threads) is there at the start.
    for (auto& r : readers_) Start(*r);
    progress_.Set("warming up", kStartingBoundMs);
    const auto warming = Clock::now();
    while (MsSince(warming) < kReadyMs &&
           !std::all_of(readers_.begin(), readers_.end(), [](const auto& r) {
             return r->ignores_shutdown || r->images.load() > 0;
           })) {
      Sleep(100);
    }
    Sleep(1000);
    StopAll();
    if (options_.With(kIgnoringPlugin)) {
      progress_.Set("letting the ignoring plug-in's calls end");
      Sleep(options_.stuck_call_ms + 1000);
    }
    const Resources start = Probe();

    const auto begin = Clock::now();
    const int64_t run_ms = static_cast<int64_t>(options_.minutes * 60000);
    while (MsSince(begin) < run_ms) {
      Act();
      progress_.Set("between actions");
      Sleep(Random(50, 400));
    }
    const int64_t ran = MsSince(begin);
    StopAll();
    if (options_.With(kIgnoringPlugin)) {
      progress_.Set("letting the ignoring plug-in's calls end");
      Sleep(options_.stuck_call_ms + 1000);
    }
    const Resources end = Probe();

    for (const auto& r : readers_) {
      if (r->bad_images.load() != 0) {
        tally_.Problem(r->name + " delivered images that are not its finger");
      }
      if (r->images.load() == 0 && !r->ignores_shutdown) {
        tally_.Problem(r->name + " delivered nothing");
      }
    }
    if (end.fds > start.fds + options_.fd_allowance) tally_.Problem("open descriptors grew");
    if (end.threads > start.threads + options_.thread_allowance) tally_.Problem("threads grew");
    if (end.rss_kb > start.rss_kb + options_.rss_allowance_mb * 1024) {
      tally_.Problem("resident memory grew");
    }
    Report(&start, &end, ran);
  }
  progress_.Set("ending");
  {
    std::lock_guard guard(tally_.lock);
    status = tally_.problems.empty() ? 0 : 1;
  }
  readers_ready_.store(false);
  if (scanners_) {
    std::lock_guard guard(lock_);
    scanners_->Esvaziar();
  }
  readers_.clear();
  scanners_.reset();
  access_.reset();
  manager_.reset();
  usb_sensor_.reset();
  served_sensor_.reset();
  service_.reset();
  finished_.store(true);
  watchdog.join();
  std::error_code error;
  fs::remove_all(root_, error);
  return status;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    char* end = nullptr;
    if (arg == "--minutes") {
      o.minutes = std::strtod(value, &end);
    } else if (arg == "--seed") {
      o.seed = std::strtoull(value, &end, 10);
    } else if (arg == "--stop-bound-ms") {
      o.stop_bound_ms = static_cast<int>(std::strtol(value, &end, 10));
    } else if (arg == "--rss-allowance-mb") {
      o.rss_allowance_mb = std::strtol(value, &end, 10);
    } else if (arg == "--fd-allowance") {
      o.fd_allowance = static_cast<int>(std::strtol(value, &end, 10));
    } else if (arg == "--thread-allowance") {
      o.thread_allowance = static_cast<int>(std::strtol(value, &end, 10));
    } else if (arg == "--stuck-call-ms") {
      o.stuck_call_ms = static_cast<int>(std::strtol(value, &end, 10));
    } else if (arg == "--without") {
      std::string_view list = value;
      while (!list.empty()) {
        const auto comma = list.find(',');
        const std::string test_case(list.substr(0, comma));
        if (test_case != kIgnoringPlugin) return false;
        o.without.insert(test_case);
        list = comma == std::string_view::npos ? "" : list.substr(comma + 1);
      }
      continue;
    } else {
      return false;
    }
    if (end == value || *end != '\0') return false;
  }
  return o.minutes > 0 && o.stop_bound_ms > 0 && o.stuck_call_ms >= 0 && o.rss_allowance_mb >= 0 &&
         o.fd_allowance >= 0 && o.thread_allowance >= 0;
}

}  // namespace
}  // namespace dactyra::soak

int main(int argc, char** argv) {
  dactyra::soak::Options options;
  if (!dactyra::soak::ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: dactyra_soak [--minutes M] [--seed N] [--stop-bound-ms N]\n"
                 "                    [--rss-allowance-mb N] [--fd-allowance N] "
                 "[--thread-allowance N]\n"
                 "                    [--stuck-call-ms N] [--without ignoring-plugin]\n");
    return 2;
  }
  return dactyra::soak::Soak(options).Run();
}
