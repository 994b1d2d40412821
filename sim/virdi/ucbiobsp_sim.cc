// UCBioBSP.so, the stand-in for Virdi's library: simulated readers that show
// synthetic fingers through the capture callback, configured from a file
// (see ucbiobsp_sim.h), counting every call and recording every breach of
// the interface by its caller.
#include "sim/virdi/ucbiobsp_sim.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "plugins/virdi/ucbiobsp.h"
#include "sim/config/standin_files.h"

namespace {

// Failure codes of this stand-in; callers only tell 0 from the rest.
constexpr UCBioAPI_RETURN kErrInvalidHandle = 0x0001;
constexpr UCBioAPI_RETURN kErrInvalidPointer = 0x0002;
constexpr UCBioAPI_RETURN kErrInit = 0x0101;
constexpr UCBioAPI_RETURN kErrEnumerate = 0x0102;
constexpr UCBioAPI_RETURN kErrNoDevice = 0x0103;
constexpr UCBioAPI_RETURN kErrDeviceBusy = 0x0104;
constexpr UCBioAPI_RETURN kErrNotOpen = 0x0105;
constexpr UCBioAPI_RETURN kErrDevice = 0x0106;
constexpr UCBioAPI_RETURN kErrCapture = 0x0201;
constexpr UCBioAPI_RETURN kErrTimeout = 0x0202;

constexpr UCBioAPI_HANDLE kSdkHandle = 0x5D1B0001;

enum class CaptureMode { kOk, kFail, kNoFrame, kNullFrame, kTimeout };

struct Reader {
  UCBioAPI_DEVICE_ID id = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::string name;
  CaptureMode capture = CaptureMode::kOk;
  int frames = 3;
  int frame_ms = 0;
  uint64_t seed = 0;
  bool open_fails = false;
  bool info_fails = false;
  uint32_t present_from = 1;
  uint32_t present_until = UINT32_MAX;
};

struct Config {
  uint32_t init_failures = 0;
  bool enumerate_fails = false;
  std::vector<Reader> readers;
};

using Frames = std::vector<std::vector<uint8_t>>;

class Library {
 public:
  UCBioAPI_RETURN Init(UCBioAPI_HANDLE* handle);
  UCBioAPI_RETURN Enumerate(UCBioAPI_HANDLE handle, uint32_t* count, UCBioAPI_DEVICE_ID** ids,
                            UCBioAPI_DEVICE_INFO_EX** infos);
  UCBioAPI_RETURN Open(UCBioAPI_HANDLE handle, UCBioAPI_DEVICE_ID id);
  UCBioAPI_RETURN Info(UCBioAPI_HANDLE handle, UCBioAPI_DEVICE_ID id, uint32_t type, void* info);
  UCBioAPI_RETURN Close(UCBioAPI_HANDLE handle, UCBioAPI_DEVICE_ID id);
  UCBioAPI_RETURN Capture(UCBioAPI_HANDLE handle, uint32_t purpose, UCBioAPI_FIR_HANDLE* fir,
                          int32_t timeout_ms, const void* audit,
                          const UCBioAPI_CAPTURE_OPTIONS* options);
  UCBioAPI_RETURN FreeFir(UCBioAPI_FIR_HANDLE fir);

  void Reset();
  uint32_t Count(const std::string& what);
  std::string Violations();

 private:
  // Under mutex_: counts the call and reloads a changed configuration.
  void Enter(const char* function);
  void Violation(const std::string& text);
  void LoadConfig();
  bool CheckHandle(UCBioAPI_HANDLE handle, const char* function);
  // The reader with that ID attached now, or null.
  const Reader* Attached(UCBioAPI_DEVICE_ID id) const;
  bool IsOpen(UCBioAPI_DEVICE_ID id) const {
    return std::find(open_.begin(), open_.end(), id) != open_.end();
  }
  // Readers stay as the last enumeration found them (before the first one,
  // as it will find them).
  bool Present(const Reader& reader) const {
    const uint32_t now = std::max(enumerations_, 1u);
    return now >= reader.present_from && now <= reader.present_until;
  }
  std::shared_ptr<const Frames> FramesOf(const Reader& reader);

  std::mutex mutex_;
  Config config_;
  bool loaded_ = false;
  std::filesystem::file_time_type stamp_{};
  uintmax_t stamp_size_ = 0;
  std::map<std::string, uint32_t> calls_;
  uint32_t enumerations_ = 0;
  std::vector<UCBioAPI_DEVICE_ID> ids_;
  std::vector<UCBioAPI_DEVICE_INFO_EX> infos_;
  // Open devices in the order they were opened.
  std::vector<UCBioAPI_DEVICE_ID> open_;
  std::set<UCBioAPI_FIR_HANDLE> firs_;
  UCBioAPI_FIR_HANDLE next_fir_ = 0x7100;
  std::vector<std::string> violations_;

  // Rendering is slow; each reader's frames are drawn once.
  std::mutex frames_mutex_;
  std::map<std::string, std::shared_ptr<const Frames>> frames_;
};

// Destroyed when the file is unloaded, frames and all.
Library& Lib() {
  static Library library;
  return library;
}

namespace config = dactyra::sim::config;
using config::Number;

int NonNegative(std::string_view value) {
  const int number = Number<int>(value);
  if (number < 0) throw std::invalid_argument("'" + std::string(value) + "' is negative");
  return number;
}

// The options of a reader line.
const config::KeyTable<Reader> kReaderKeys = {
    {"capture",
     [](Reader& r, std::string_view v) {
       r.capture = config::Choice(v, {std::pair{"ok", CaptureMode::kOk},
                                      {"fail", CaptureMode::kFail},
                                      {"noframe", CaptureMode::kNoFrame},
                                      {"nullframe", CaptureMode::kNullFrame},
                                      {"timeout", CaptureMode::kTimeout}});
     }},
    {"frames", [](Reader& r, std::string_view v) { r.frames = NonNegative(v); }},
    {"frame_ms", [](Reader& r, std::string_view v) { r.frame_ms = NonNegative(v); }},
    {"seed", [](Reader& r, std::string_view v) { r.seed = Number<uint64_t>(v); }},
    {"open",
     [](Reader& r, std::string_view v) {
       r.open_fails = config::Choice(v, {std::pair{"fail", true}});
     }},
    {"info",
     [](Reader& r, std::string_view v) {
       r.info_fails = config::Choice(v, {std::pair{"fail", true}});
     }},
    {"present",
     [](Reader& r, std::string_view v) {
       const size_t dash = v.find('-');
       if (dash == std::string_view::npos) throw std::invalid_argument("not A-B");
       r.present_from = Number<uint32_t>(v.substr(0, dash));
       if (dash + 1 < v.size()) r.present_until = Number<uint32_t>(v.substr(dash + 1));
     }},
};

// "ID WxH [option ...] name=NAME": the options are entries of their own.
void SetReader(Config& c, std::string_view value) {
  const size_t name_at = value.find("name=");
  if (name_at == std::string_view::npos) throw std::invalid_argument("no name=");
  Reader reader;
  reader.name = value.substr(name_at + 5);
  std::vector<std::string> tokens;
  std::istringstream in{std::string(value.substr(0, name_at))};
  for (std::string token; in >> token;) tokens.push_back(token);
  if (tokens.size() < 2) throw std::invalid_argument("not ID WxH ... name=NAME");
  reader.id = Number<UCBioAPI_DEVICE_ID>(tokens[0]);
  reader.seed = reader.id;
  const auto size = config::Numbers<int32_t>(tokens[1], 'x', 2, 2);
  reader.width = size[0];
  reader.height = size[1];
  for (size_t i = 2; i < tokens.size(); ++i) {
    const size_t eq = tokens[i].find('=');
    if (eq == std::string::npos) {
      throw std::invalid_argument("'" + tokens[i] + "' is not key=value");
    }
    kReaderKeys.ApplyItem(reader, std::string_view(tokens[i]).substr(0, eq),
                          std::string_view(tokens[i]).substr(eq + 1));
  }
  c.readers.push_back(reader);
}

const config::KeyTable<Config> kKeys = {
    {"init_failures", [](Config& c, std::string_view v) { c.init_failures = Number<uint32_t>(v); }},
    {"enumerate",
     [](Config& c, std::string_view v) {
       c.enumerate_fails = config::Choice(v, {std::pair{"fail", true}});
     }},
    {"reader", SetReader},
};

void Library::Violation(const std::string& text) {
  violations_.push_back(text);
  std::fprintf(stderr, "UCBioBSP stand-in: VIOLATION %s\n", text.c_str());
}

void Library::LoadConfig() {
  const char* path = std::getenv("DACTYRA_UCBIOBSP_CONFIG");
  std::error_code error;
  std::filesystem::file_time_type stamp{};
  uintmax_t size = 0;
  if (path && *path) {
    stamp = std::filesystem::last_write_time(path, error);
    if (!error) size = std::filesystem::file_size(path, error);
  }
  if (loaded_ && stamp == stamp_ && size == stamp_size_) return;
  loaded_ = true;
  stamp_ = stamp;
  stamp_size_ = size;
  config_ = Config{};
  config::LoadFlat(path ? path : "", kKeys, "UCBioBSP stand-in", config_);
}

void Library::Enter(const char* function) {
  ++calls_[function];
  LoadConfig();
}

bool Library::CheckHandle(UCBioAPI_HANDLE handle, const char* function) {
  if (handle == kSdkHandle) return true;
  Violation(std::string(function) + " with an SDK handle UCBioAPI_Init did not give");
  return false;
}

const Reader* Library::Attached(UCBioAPI_DEVICE_ID id) const {
  for (const Reader& reader : config_.readers) {
    if (reader.id == id && Present(reader)) return &reader;
  }
  return nullptr;
}

UCBioAPI_RETURN Library::Init(UCBioAPI_HANDLE* handle) {
  std::lock_guard lock(mutex_);
  Enter("UCBioAPI_Init");
  if (!handle) return kErrInvalidPointer;
  if (calls_["UCBioAPI_Init"] <= config_.init_failures) return kErrInit;
  *handle = kSdkHandle;
  return UCBIOAPI_OK;
}

UCBioAPI_RETURN Library::Enumerate(UCBioAPI_HANDLE handle, uint32_t* count,
                                   UCBioAPI_DEVICE_ID** ids, UCBioAPI_DEVICE_INFO_EX** infos) {
  std::lock_guard lock(mutex_);
  Enter("UCBioAPI_EnumerateDevice");
  if (!CheckHandle(handle, "UCBioAPI_EnumerateDevice")) return kErrInvalidHandle;
  if (!count || !ids || !infos) return kErrInvalidPointer;
  if (config_.enumerate_fails) return kErrEnumerate;
  ++enumerations_;
  ids_.clear();
  infos_.clear();
  for (const Reader& reader : config_.readers) {
    if (!Present(reader)) continue;
    UCBioAPI_DEVICE_INFO_EX info{};
    info.Reserved = reader.id;
    std::strncpy(info.Name, reader.name.c_str(), sizeof(info.Name) - 1);
    ids_.push_back(reader.id);
    infos_.push_back(info);
  }
  *count = static_cast<uint32_t>(ids_.size());
  *ids = ids_.empty() ? nullptr : ids_.data();
  *infos = infos_.empty() ? nullptr : infos_.data();
  return UCBIOAPI_OK;
}

UCBioAPI_RETURN Library::Open(UCBioAPI_HANDLE handle, UCBioAPI_DEVICE_ID id) {
  std::lock_guard lock(mutex_);
  Enter("UCBioAPI_OpenDevice");
  if (!CheckHandle(handle, "UCBioAPI_OpenDevice")) return kErrInvalidHandle;
  const Reader* reader = Attached(id);
  if (!reader) return kErrNoDevice;
  if (reader->open_fails) return kErrDevice;
  if (IsOpen(id)) return kErrDeviceBusy;
  open_.push_back(id);
  return UCBIOAPI_OK;
}

UCBioAPI_RETURN Library::Info(UCBioAPI_HANDLE handle, UCBioAPI_DEVICE_ID id, uint32_t type,
                              void* info) {
  std::lock_guard lock(mutex_);
  Enter("UCBioAPI_GetDeviceInfo");
  if (!CheckHandle(handle, "UCBioAPI_GetDeviceInfo")) return kErrInvalidHandle;
  if (!info) return kErrInvalidPointer;
  auto* record = static_cast<UCBioAPI_DEVICE_INFO_0*>(info);
  if (type != UCBIOAPI_DEVICE_INFO_TYPE_0) Violation("UCBioAPI_GetDeviceInfo of a type but 0");
  if (record->StructureType != 0) Violation("UCBioAPI_GetDeviceInfo with a first word not 0");
  if (!IsOpen(id)) {
    Violation("UCBioAPI_GetDeviceInfo on a device that is not open");
    return kErrNotOpen;
  }
  const Reader* reader = Attached(id);
  if (!reader) return kErrNoDevice;
  if (reader->info_fails) return kErrDevice;
  record->ImageWidth = reader->width;
  record->ImageHeight = reader->height;
  return UCBIOAPI_OK;
}

UCBioAPI_RETURN Library::Close(UCBioAPI_HANDLE handle, UCBioAPI_DEVICE_ID id) {
  std::lock_guard lock(mutex_);
  Enter("UCBioAPI_CloseDevice");
  if (!CheckHandle(handle, "UCBioAPI_CloseDevice")) return kErrInvalidHandle;
  const auto at = std::find(open_.begin(), open_.end(), id);
  if (at == open_.end()) {
    Violation("UCBioAPI_CloseDevice on a device that is not open");
    return kErrNotOpen;
  }
  open_.erase(at);
  return UCBIOAPI_OK;
}

std::shared_ptr<const Frames> Library::FramesOf(const Reader& reader) {
  const std::string key = std::to_string(reader.seed) + ":" + std::to_string(reader.width) + "x" +
                          std::to_string(reader.height) + ":" + std::to_string(reader.frames);
  std::lock_guard lock(frames_mutex_);
  auto& frames = frames_[key];
  if (!frames) {
    // One finger, each frame an impression of it (FramePixels draws the
    // same, growing the finger each time).
    const auto finger = dactyra::sim::fingerprint::Finger::Generate(reader.seed);
    auto drawn = std::make_shared<Frames>();
    for (int k = 0; k < reader.frames; ++k) {
      drawn->push_back(
          finger.Render(reader.width, reader.height, dactyra::sim::virdi::FrameOptions(reader.seed, k))
              .pixels);
    }
    frames = std::move(drawn);
  }
  return frames;
}

UCBioAPI_RETURN Library::Capture(UCBioAPI_HANDLE handle, uint32_t purpose, UCBioAPI_FIR_HANDLE* fir,
                                 int32_t timeout_ms, const void* audit,
                                 const UCBioAPI_CAPTURE_OPTIONS* options) {
  Reader reader;
  {
    std::lock_guard lock(mutex_);
    Enter("UCBioAPI_Capture");
    if (!CheckHandle(handle, "UCBioAPI_Capture")) return kErrInvalidHandle;
    if (purpose != UCBIOAPI_PURPOSE_CAPTURE) Violation("UCBioAPI_Capture for a purpose but 6");
    if (timeout_ms != UCBIOAPI_CAPTURE_TIMEOUT_MS) Violation("UCBioAPI_Capture not for 3000 ms");
    if (audit) Violation("UCBioAPI_Capture with audit data");
    if (!fir || !options || !options->Callback) {
      Violation("UCBioAPI_Capture without a FIR handle address, options or callback");
      return kErrInvalidPointer;
    }
    if (options->Length != sizeof(UCBioAPI_CAPTURE_OPTIONS) || options->Mode != 1 ||
        options->Flags != 0) {
      Violation("UCBioAPI_Capture with options not of length, mode 1 and flags 0");
    }
    // A capture names no device: it is made on the device opened last.
    if (open_.empty()) {
      Violation("UCBioAPI_Capture without an open device");
      return kErrNotOpen;
    }
    const Reader* found = Attached(open_.back());
    if (!found) return kErrNoDevice;
    reader = *found;
  }
  auto call = [&](uint32_t present, const uint8_t* frame) {
    const UCBioAPI_CALLBACK_DATA data{present, frame};
    if (options->Callback(&data, options->UserData) != 0) {
      std::lock_guard lock(mutex_);
      Violation("capture callback returned a value but 0");
    }
  };
  auto wait = [](int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  };
  switch (reader.capture) {
    case CaptureMode::kOk:
    case CaptureMode::kFail: {
      const std::shared_ptr<const Frames> frames = FramesOf(reader);
      for (const std::vector<uint8_t>& frame : *frames) {
        wait(reader.frame_ms);
        // Every frame holds exactly the size the device information gives.
        if (frame.size() != static_cast<size_t>(reader.width) * reader.height) std::abort();
        call(1, frame.data());
      }
      if (reader.capture == CaptureMode::kFail) return kErrCapture;
      break;
    }
    case CaptureMode::kNoFrame:
      for (int k = 0; k < reader.frames; ++k) {
        wait(reader.frame_ms);
        call(0, nullptr);
      }
      break;
    case CaptureMode::kNullFrame:
      for (int k = 0; k < reader.frames; ++k) {
        wait(reader.frame_ms);
        call(1, nullptr);
      }
      break;
    case CaptureMode::kTimeout:
      call(0, nullptr);
      wait(timeout_ms);
      return kErrTimeout;
  }
  std::lock_guard lock(mutex_);
  *fir = next_fir_++;
  firs_.insert(*fir);
  return UCBIOAPI_OK;
}

UCBioAPI_RETURN Library::FreeFir(UCBioAPI_FIR_HANDLE fir) {
  std::lock_guard lock(mutex_);
  Enter("UCBioAPI_FreeFIRHandle");
  if (firs_.erase(fir) == 0) {
    Violation("UCBioAPI_FreeFIRHandle of a handle not held");
    return kErrInvalidHandle;
  }
  return UCBIOAPI_OK;
}

void Library::Reset() {
  std::lock_guard lock(mutex_);
  loaded_ = false;
  LoadConfig();
  calls_.clear();
  enumerations_ = 0;
  open_.clear();
  firs_.clear();
  violations_.clear();
}

uint32_t Library::Count(const std::string& what) {
  std::lock_guard lock(mutex_);
  if (what == "open devices") return static_cast<uint32_t>(open_.size());
  if (what == "FIR handles") return static_cast<uint32_t>(firs_.size());
  if (what == "violations") return static_cast<uint32_t>(violations_.size());
  const auto at = calls_.find(what);
  return at == calls_.end() ? 0 : at->second;
}

std::string Library::Violations() {
  std::lock_guard lock(mutex_);
  std::string text;
  for (const std::string& line : violations_) text += line + "\n";
  return text;
}

}  // namespace

extern "C" {

UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_Init(UCBioAPI_HANDLE* handle) { return Lib().Init(handle); }

UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_EnumerateDevice(UCBioAPI_HANDLE handle, uint32_t* count,
                                                       UCBioAPI_DEVICE_ID** ids,
                                                       UCBioAPI_DEVICE_INFO_EX** infos) {
  return Lib().Enumerate(handle, count, ids, infos);
}

UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_OpenDevice(UCBioAPI_HANDLE handle, UCBioAPI_DEVICE_ID id) {
  return Lib().Open(handle, id);
}

UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_GetDeviceInfo(UCBioAPI_HANDLE handle, UCBioAPI_DEVICE_ID id,
                                                     uint32_t structure_type, void* info) {
  return Lib().Info(handle, id, structure_type, info);
}

UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_CloseDevice(UCBioAPI_HANDLE handle, UCBioAPI_DEVICE_ID id) {
  return Lib().Close(handle, id);
}

UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_Capture(UCBioAPI_HANDLE handle, uint32_t purpose,
                                               UCBioAPI_FIR_HANDLE* fir, int32_t timeout_ms,
                                               const void* audit_data,
                                               const UCBioAPI_CAPTURE_OPTIONS* options) {
  return Lib().Capture(handle, purpose, fir, timeout_ms, audit_data, options);
}

UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_FreeFIRHandle(UCBioAPI_FIR_HANDLE fir) {
  return Lib().FreeFir(fir);
}

void UCBioSim_Reset(void) { Lib().Reset(); }

uint32_t UCBioSim_Count(const char* what) { return what ? Lib().Count(what) : 0; }

size_t UCBioSim_Violations(char* buffer, size_t size) {
  const std::string text = Lib().Violations();
  if (buffer && size > 0) {
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
  }
  return text.size();
}

}  // extern "C"
