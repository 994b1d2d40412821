#include "plugins/virdi/virdi_plugin.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace dactyra::virdi {

const char kPrefix[] = "ViRDI";

// The object behind a handle. The tag comes first so that the handle's first
// word tells a live device of this plug-in.
struct VirdiPlugin::Device {
  const char* tag;
  UCBioAPI_DEVICE_ID id;
  TVxrImageSize size;
};

namespace {

// One capture's frame, filled by the callback.
struct CaptureRecord {
  int32_t width;
  int32_t height;
  int32_t byte_size;
  std::vector<uint8_t> frame;
  // A frame could not be kept (no memory); the capture yields no image.
  bool lost = false;
};

uint32_t UCBIOAPI_CALL OnCapture(const UCBioAPI_CALLBACK_DATA* data, void* user_data) {
  auto* record = static_cast<CaptureRecord*>(user_data);
  if (!record || !data || data->FramePresent == 0 || !data->Frame) return 0;
  // Nothing may unwind into UCBioBSP.
  try {
    record->frame.assign(data->Frame, data->Frame + record->byte_size);
  } catch (const std::bad_alloc&) {
    record->frame.clear();
    record->lost = true;
  }
  return 0;
}

size_t NameLength(const UCBioAPI_DEVICE_INFO_EX& info) {
  // Bounded by the record: a name without its NUL ends with the record.
  const void* nul = std::memchr(info.Name, 0, sizeof(info.Name));
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) - info.Name) : sizeof(info.Name);
}

}  // namespace

VirdiPlugin::VirdiPlugin(platform::Env& env) : env_(env) {}

VirdiPlugin::~VirdiPlugin() = default;

bool VirdiPlugin::ListIsFresh() {
  return enumerated_ && static_cast<uint32_t>(env_.TickCount() - enumerated_at_) < kListFreshMs;
}

bool VirdiPlugin::Enumerate() {
  if (sdk_.load() == 0) {
    UCBioAPI_HANDLE sdk = 0;
    if (UCBioAPI_Init(&sdk) != UCBIOAPI_OK || sdk == 0) return false;
    sdk_.store(sdk);
  }
  uint32_t count = 0;
  UCBioAPI_DEVICE_ID* ids = nullptr;
  UCBioAPI_DEVICE_INFO_EX* infos = nullptr;
  if (UCBioAPI_EnumerateDevice(sdk_.load(), &count, &ids, &infos) != UCBIOAPI_OK) return false;
  if (count > 0 && (!ids || !infos)) return false;
  std::vector<Entry> list;
  try {
    for (uint32_t i = 0; i < count; ++i) {
      if (ids[i] == kUnlistedId) continue;
      list.push_back(Entry{std::string(infos[i].Name, NameLength(infos[i])), ids[i]});
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  list_ = std::move(list);
  enumerated_ = true;
  enumerated_at_ = env_.TickCount();
  return true;
}

int32_t VirdiPlugin::GetDeviceList(PVxrDeviceList buffer, int32_t size) {
  // A negative size is a block too small for anything, not a huge one: an
  // unsigned comparison would write a whole list into it.
  if (size < static_cast<int32_t>(VXR_DEVICE_LIST_EMPTY_SIZE) || !buffer) {
    return VXR_DEVICE_LIST_EMPTY_SIZE;
  }
  auto* block = reinterpret_cast<uint8_t*>(buffer);
  if (!ListIsFresh()) {
    const uint32_t none = 0;
    std::memcpy(block, &none, 4);
    if (!Enumerate()) return VXR_DEVICE_LIST_EMPTY_SIZE;
  }
  uint64_t needed = VXR_DEVICE_LIST_EMPTY_SIZE;
  for (const Entry& entry : list_) needed += VXR_DEVICE_LIST_ENTRY_SIZE(entry.name.size());
  // Names are bounded by their records, so only an absurd count gets here:
  // a list no answer can describe is an empty one.
  if (needed > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    list_.clear();
    needed = VXR_DEVICE_LIST_EMPTY_SIZE;
  }
  const uint32_t count = static_cast<uint32_t>(list_.size());
  std::memcpy(block, &count, 4);
  if (count == 0 || static_cast<uint64_t>(size) < needed) return static_cast<int32_t>(needed);
  size_t text = VXR_DEVICE_LIST_TEXT_OFFSET(count);
  for (uint32_t i = 0; i < count; ++i) {
    char* at = reinterpret_cast<char*>(block + text);
    std::memcpy(block + 4 + i * sizeof(char*), &at, sizeof(char*));
    const std::string& name = list_[i].name;
    std::memcpy(at, name.data(), name.size());
    at[name.size()] = 0;
    text += name.size() + 1;
  }
  return static_cast<int32_t>(needed);
}

TVxrCaptureHandle VirdiPlugin::OpenDevice(const char* serial_number) {
  if (!ListIsFresh()) {
    uint8_t scratch[VXR_DEVICE_LIST_EMPTY_SIZE] = {};
    GetDeviceList(reinterpret_cast<PVxrDeviceList>(scratch), sizeof(scratch));
  }
  if (!serial_number) return nullptr;
  const Entry* found = nullptr;
  for (const Entry& entry : list_) {
    if (entry.name == serial_number) {
      found = &entry;
      break;
    }
  }
  if (!found || found->id == kUnopenableId) return nullptr;
  const UCBioAPI_HANDLE sdk = sdk_.load();
  const UCBioAPI_DEVICE_ID id = found->id;
  if (UCBioAPI_OpenDevice(sdk, id) != UCBIOAPI_OK) return nullptr;
  UCBioAPI_DEVICE_INFO_0 info{};
  info.StructureType = 0;
  if (UCBioAPI_GetDeviceInfo(sdk, id, UCBIOAPI_DEVICE_INFO_TYPE_0, &info) != UCBIOAPI_OK) {
    UCBioAPI_CloseDevice(sdk, id);
    return nullptr;
  }
  // A size no image record can describe: refused rather than reported.
  const int64_t bytes = static_cast<int64_t>(info.ImageWidth) * info.ImageHeight;
  if (info.ImageWidth <= 0 || info.ImageHeight <= 0 ||
      bytes > std::numeric_limits<int32_t>::max()) {
    UCBioAPI_CloseDevice(sdk, id);
    return nullptr;
  }
  std::unique_ptr<Device> device(new (std::nothrow) Device{
      kPrefix, id, TVxrImageSize{info.ImageWidth, info.ImageHeight, static_cast<int32_t>(bytes)}});
  bool registered = false;
  if (device) {
    try {
      std::lock_guard lock(devices_lock_);
      registered = devices_.insert(device.get()).second;
    } catch (const std::bad_alloc&) {
    }
  }
  if (!registered) {
    UCBioAPI_CloseDevice(sdk, id);
    return nullptr;
  }
  return reinterpret_cast<TVxrCaptureHandle>(device.release());
}

VirdiPlugin::Device* VirdiPlugin::Find(TVxrCaptureHandle handle, bool remove) {
  if (!handle) return nullptr;
  std::lock_guard lock(devices_lock_);
  const auto at = devices_.find(handle);
  if (at == devices_.end()) return nullptr;
  auto* device = reinterpret_cast<Device*>(handle);
  if (device->tag != kPrefix) return nullptr;
  // Taken out in the same step, so that of two closes only one frees it.
  if (remove) devices_.erase(at);
  return device;
}

bool VirdiPlugin::CloseDevice(TVxrCaptureHandle handle) {
  Device* device = Find(handle, /*remove=*/true);
  if (!device) return false;
  UCBioAPI_CloseDevice(sdk_.load(), device->id);
  device->tag = nullptr;
  delete device;
  return true;
}

bool VirdiPlugin::GetMaxSize(TVxrCaptureHandle handle, PVxrImageSize size) {
  const Device* device = Find(handle);
  if (!device || !size) return false;
  *size = device->size;
  return true;
}

bool VirdiPlugin::GetImage(TVxrCaptureHandle handle, PVxrImage image) {
  const Device* device = Find(handle);
  if (!device || !image) return false;
  CaptureRecord record{device->size.Width, device->size.Height, device->size.ByteSize, {}};
  UCBioAPI_CAPTURE_OPTIONS options{};
  options.Length = sizeof(options);
  options.Mode = 1;
  options.Flags = 0;
  options.Callback = &OnCapture;
  options.UserData = &record;
  UCBioAPI_FIR_HANDLE fir = 0;
  if (UCBioAPI_Capture(sdk_.load(), UCBIOAPI_PURPOSE_CAPTURE, &fir, UCBIOAPI_CAPTURE_TIMEOUT_MS,
                       nullptr, &options) != UCBIOAPI_OK) {
    return false;
  }
  UCBioAPI_FreeFIRHandle(fir);
  if (record.lost || record.frame.empty()) return false;
  image->Size = device->size;
  image->Format = 0;
  image->Resolution = kResolution;
  std::memcpy(VXR_IMAGE_PIXELS(image), record.frame.data(), record.frame.size());
  return true;
}

}  // namespace dactyra::virdi
