// The dpFpFns family: readers by device id, capture on a thread per reader
// woken by the library's imageReady event.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "capture/digitalpersona/binding.h"
#include "capture/digitalpersona/capture_thread.h"
#include "support/exception.h"

namespace dactyra::capture::digitalpersona {

namespace {

constexpr int32_t kMaxReaders = 1024;
// Larger acquisitions are a fault of the library.
constexpr uint32_t kMaxAcquisitionBytes = 1u << 28;
constexpr int32_t kConnectMode = 2;
constexpr int32_t kAcquireMode = 2;
constexpr uint32_t kUIRate = 200;
// The delivered image: 321 x 365 from the 450 x 511 pixels at the top left.
constexpr int32_t kSourceWidth = 450;
constexpr int32_t kSourceHeight = 511;
constexpr size_t kAcquisitionMinimum = static_cast<size_t>(kDpFpFnsWidth) * kSMImageHeight;

int32_t DP_CDECL AlwaysTrue(void*, int32_t, void*) { return 1; }

class DpFpFnsFamily final : public Family {
 public:
  DpFpFnsFamily(Binding& binding, const DpFpFnsFunctions& api) : b_(binding), api_(api) {}

  int SMInit() override {
    if (api_.init() != 0) return kSMFailed;
    b_.lock = std::make_unique<platform::CriticalSection>();
    return kSMOk;
  }

  int SMTerm() override {
    if (api_.terminate() != 0) return kSMFailed;
    b_.lock.reset();
    return kSMOk;
  }

  int SMDeviceCount() override {
    int32_t count = 0;
    if (api_.getNumDevices(&count) != 0) return 0;
    return std::clamp(count, 0, kMaxReaders);
  }

  int SMDeviceName(int index, char* dest, int maxLen) override {
    if (!b_.lock) return kSMNotInitialised;
    const int count = SMDeviceCount();
    std::lock_guard guard(*b_.lock);
    Refresh(count);
    if (index < 0 || index >= count || static_cast<size_t>(index) >= b_.DispositivosDP.size()) {
      return kSMFailed;
    }
    return CopyName(b_.DispositivosDP[index].NumSerie, dest, maxLen);
  }

  int SMStartCapture(const std::string& name, TSMImageProc image_proc, void* /*reserved*/,
                     void* param) override {
    if (!b_.lock) return kSMNotInitialised;
    std::lock_guard guard(*b_.lock);
    TDispositivoDP* entry = Find(name);
    if (!entry || !image_proc) return kSMFailed;
    if (entry->Thread) return kSMAlreadyCapturing;
    auto thread = std::make_unique<TThreadCapturaDP>(*b_.env, api_, entry->DevInfo, entry->NumSerie,
                                                     image_proc, param);
    if (thread->ErroCaptura()) return kSMFailed;
    entry->Thread = std::move(thread);
    return kSMOk;
  }

  int SMStopCapture(const std::string& name) override {
    if (!b_.lock) return kSMNotInitialised;
    std::lock_guard guard(*b_.lock);
    TDispositivoDP* entry = Find(name);
    if (!entry || !entry->Thread) return kSMNotCapturing;
    if (entry->Thread->OnOwnThread()) return kSMStopFromImageProc;
    entry->Thread->Stop();
    entry->Thread.reset();
    return kSMOk;
  }

  void StopAll() override {
    for (TDispositivoDP& entry : b_.DispositivosDP) {
      if (!entry.Thread) continue;
      entry.Thread->Stop();
      entry.Thread.reset();
    }
  }

 private:
  // Under the lock; a count of 0 asks for the count again.
  void Refresh(int count) {
    if (count == 0) count = SMDeviceCount();
    std::vector<TFTDeviceInfo> list(static_cast<size_t>(std::clamp(count, 0, kMaxReaders)));
    if (!list.empty() && api_.getDeviceList(static_cast<int32_t>(list.size()), list.data()) < 0) {
      return;
    }
    std::vector<TDispositivoDP>& table = b_.DispositivosDP;
    MarkAllUnseen(table);
    for (const TFTDeviceInfo& info : list) {
      const auto found = std::find_if(table.begin(), table.end(), [&](const TDispositivoDP& e) {
        return e.DevInfo.devId == info.devId;
      });
      if (found != table.end()) {
        found->Visto = true;
        continue;
      }
      TFTDeviceDetails details{};
      details.cbSize = sizeof details;
      if (api_.getDeviceInfo(info.devId, &details) < 0) continue;
      TDispositivoDP entry;
      entry.DevInfo = info;
      entry.NumSerie = ReaderName(details.SerialNumber, std::size(details.SerialNumber));
      entry.Visto = true;
      table.push_back(std::move(entry));
    }
    DropUnseenIdle(table);
  }

  TDispositivoDP* Find(const std::string& name) {
    if (TDispositivoDP* entry = FindEntry(b_.DispositivosDP, name)) return entry;
    Refresh(0);
    return FindEntry(b_.DispositivosDP, name);
  }

  Binding& b_;
  const DpFpFnsFunctions api_;
};

}  // namespace

std::unique_ptr<Family> MakeDpFpFnsFamily(Binding& binding) {
  const platform::Module& m = *binding.library;
  DpFpFnsFunctions api;
  api.init = m.Function<TFT_init>("FT_init");
  api.terminate = m.Function<TFT_terminate>("FT_terminate");
  api.getNumDevices = m.Function<TFT_getNumDevices>("FT_getNumDevices");
  api.getDeviceList = m.Function<TFT_getDeviceList>("FT_getDeviceList");
  api.getDeviceInfo = m.Function<TFT_getDeviceInfo>("FT_getDeviceInfo");
  api.connectDevice = m.Function<TFT_connectDevice>("FT_connectDevice");
  api.disconnectDevice = m.Function<TFT_contextCall>("FT_disconnectDevice");
  api.startMonitoringDevice = m.Function<TFT_startMonitoringDevice>("FT_startMonitoringDevice");
  api.acquireImage = m.Function<TFT_acquireImage>("FT_acquireImage");
  api.setupUIlink = m.Function<TFT_setupUIlink>("FT_setupUIlink");
  api.getImagePixels = m.Function<TFT_getImagePixels>("FT_getImagePixels");
  api.createContext = m.Function<TFT_createContext>("FT_createContext");
  api.closeContext = m.Function<TFT_contextCall>("FT_closeContext");
  if (!api.init || !api.terminate || !api.getNumDevices || !api.getDeviceList ||
      !api.getDeviceInfo || !api.connectDevice || !api.disconnectDevice ||
      !api.startMonitoringDevice || !api.acquireImage || !api.setupUIlink || !api.getImagePixels ||
      !api.createContext || !api.closeContext) {
    return nullptr;
  }
  return std::make_unique<DpFpFnsFamily>(binding, api);
}

// --- TThreadCapturaDP ---------------------------------------------------------

TThreadCapturaDP::TThreadCapturaDP(platform::Env& env, const DpFpFnsFunctions& api,
                                   const TFTDeviceInfo& devInfo, platform::Text readerName,
                                   TSMImageProc imageProc, void* param)
    : env_(env),
      api_(api),
      FNumSerie(std::move(readerName)),
      FNumSerieAnsi(platform::ToAnsi(FNumSerie)),
      FImageProc(imageProc),
      FParam(param) {
  // A size the binding could not hold is refused before anything is set up.
  const TFTImageSize size = devInfo.imgSize;
  if (size.width <= 0 || size.height <= 0 || int64_t{size.width} * size.height > kMaxSourcePixels ||
      devInfo.maxImgSize > kMaxAcquisitionBytes) {
    FErroCaptura = true;
    return;
  }
  if (api_.createContext(&FContexto) != 0) {
    FErroCaptura = true;
    return;
  }
  if (api_.connectDevice(FContexto, devInfo.devId, kConnectMode) != 0) {
    api_.closeContext(FContexto);
    FErroCaptura = true;
    return;
  }
  const auto undo = [&] {
    api_.disconnectDevice(FContexto);
    api_.closeContext(FContexto);
    FEventoImageReady.reset();
    FErroCaptura = true;
  };
  FEventoImageReady = env_.CreateSharedEvent();
  if (!FEventoImageReady) {
    undo();
    return;
  }
  FEvents = TFTDeviceEvents{nullptr, FEventoImageReady->Handle(), nullptr, nullptr, nullptr};
  if (api_.startMonitoringDevice(FContexto, &FEvents) != 0) {
    undo();
    return;
  }
  link_.Callback = &AlwaysTrue;
  link_.Width = size.width;
  link_.Height = size.height;
  link_.Orientation = devInfo.imgOrientation;
  link_.IntensityLevels = devInfo.numIntensityLevels;
  link_.Rate = kUIRate;
  if (api_.setupUIlink(FContexto, &link_, this) != 0) {
    undo();
    return;
  }
  FWidth = size.width;
  FHeight = size.height;
  FImgSize = devInfo.maxImgSize;
  thread_ = env_.NewThread([this] { Execute(); });
  if (!thread_ || !thread_->Start()) {
    thread_.reset();
    undo();
  }
}

TThreadCapturaDP::~TThreadCapturaDP() {
  Stop();
  thread_.reset();
  FEventoImageReady.reset();
}

void TThreadCapturaDP::Stop() {
  if (!thread_) return;
  terminated_.store(true, std::memory_order_release);
  FEventoImageReady->Set();
  if (thread_->Joinable() && !thread_->IsCurrent()) thread_->Join();
}

bool TThreadCapturaDP::OnOwnThread() const { return thread_ && thread_->IsCurrent(); }

void TThreadCapturaDP::Execute() {
  try {
    std::vector<uint8_t> pixels(static_cast<size_t>(FWidth) * static_cast<size_t>(FHeight));
    std::vector<uint8_t> acquisition(std::max<size_t>(kAcquisitionMinimum, FImgSize));
    std::vector<uint8_t> image(kAcquisitionMinimum);
    int32_t status = 0;
    uint8_t quality = 0;
    while (!terminated_.load(std::memory_order_acquire)) {
      FEventoImageReady->Wait(platform::kInfinite);
      if (terminated_.load(std::memory_order_acquire)) break;
      // Their results are not checked: whatever the buffers hold is
      // delivered.
      api_.acquireImage(FContexto, kAcquireMode, FImgSize, acquisition.data(), &status, &quality);
      api_.getImagePixels(acquisition.data(), FWidth * FHeight, pixels.data());
      FitImage(image.data(), kDpFpFnsWidth, kSMImageHeight, pixels.data(), FWidth, FHeight,
               kSourceWidth, kSourceHeight, true);
      FImageProc(FNumSerieAnsi.c_str(), kDpFpFnsWidth, kSMImageHeight, image.data(), kSMResolution,
                 FParam);
    }
  } catch (const std::bad_alloc&) {
    // No memory for the buffers: no image comes, and the reader counts as
    // capturing until it is stopped.
  }
  api_.disconnectDevice(FContexto);
  api_.closeContext(FContexto);
}

}  // namespace dactyra::capture::digitalpersona
