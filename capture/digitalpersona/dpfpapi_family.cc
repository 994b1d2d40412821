// The DPFPApi family: readers by GUID, capture through acquisitions that post
// each image to a message thread's hidden window.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "capture/digitalpersona/binding.h"
#include "capture/digitalpersona/message_handler.h"
#include "support/exception.h"

namespace dactyra::capture::digitalpersona {

namespace {

// More readers than this in one enumeration is a fault of the library.
constexpr uint32_t kMaxReaders = 1024;

// DPFPCreateAcquisition's priorities, tried in this order.
constexpr int32_t kPriorities[] = {1, 3};
constexpr uint32_t kAcquisitionKind = 4;

const char16_t kProduct4000[] = u"U.are.U\u00AE 4000";

bool SameGuid(const TDPGuid& a, const TDPGuid& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class DPFPApiFamily final : public Family {
 public:
  DPFPApiFamily(Binding& binding, const DPFPApiFunctions& api) : b_(binding), api_(api) {}

  int SMInit() override {
    if (!b_.dpfp_initialised) {
      if (api_.Init() != 0) return kSMFailed;
      b_.dpfp_initialised = true;
    }
    b_.lock = std::make_unique<platform::CriticalSection>();
    return kSMOk;
  }

  int SMTerm() override {
    api_.Term();
    b_.lock.reset();
    b_.dpfp_initialised = false;
    return kSMOk;
  }

  int SMDeviceCount() override {
    uint32_t count = 0;
    if (api_.EnumerateDevices(&count, nullptr) != 0) return 0;
    return static_cast<int>(std::min(count, kMaxReaders));
  }

  int SMDeviceName(int index, char* dest, int maxLen) override {
    if (!b_.lock) return kSMNotInitialised;
    uint32_t count = 0;
    TDPGuid* guids = nullptr;
    if (api_.EnumerateDevices(&count, &guids) != 0) return kSMFailed;
    int result = kSMFailed;
    {
      std::lock_guard guard(*b_.lock);
      Refresh(count, guids);
      if (index >= 0 && static_cast<uint32_t>(index) < count &&
          static_cast<size_t>(index) < b_.DispositivosDP.size()) {
        result = CopyName(b_.DispositivosDP[index].NumSerie, dest, maxLen);
      }
    }
    if (guids) api_.BufferFree(guids);
    return result;
  }

  int SMStartCapture(const std::string& name, TSMImageProc image_proc, void* /*reserved*/,
                     void* param) override {
    if (!b_.lock) return kSMNotInitialised;
    std::lock_guard guard(*b_.lock);
    TDispositivoDP* entry = Find(name);
    if (!entry || !image_proc) return kSMFailed;
    if (entry->Tratador) return kSMAlreadyCapturing;
    auto handler = std::make_unique<TTratadorMensagens>(*b_.env, api_, param, entry->NumSerie,
                                                        entry->Eh4000, entry->GUID, image_proc);
    if (!handler->IniciarAquisicao()) return kSMFailed;
    entry->Tratador = std::move(handler);
    return kSMOk;
  }

  int SMStopCapture(const std::string& name) override {
    if (!b_.lock) return kSMNotInitialised;
    std::lock_guard guard(*b_.lock);
    TDispositivoDP* entry = Find(name);
    if (!entry || !entry->Tratador) return kSMNotCapturing;
    if (entry->Tratador->OnOwnThread()) return kSMStopFromImageProc;
    entry->Tratador.reset();
    return kSMOk;
  }

  void StopAll() override {
    for (TDispositivoDP& entry : b_.DispositivosDP) entry.Tratador.reset();
  }

 private:
  // Under the lock. `guids` holds `count` GUIDs of the caller's; a count of
  // 0 enumerates afresh.
  void Refresh(uint32_t count, const TDPGuid* guids) {
    TDPGuid* own = nullptr;
    if (count == 0) {
      if (api_.EnumerateDevices(&count, &own) != 0) return;
      guids = own;
    }
    if (count > 0 && !guids) count = 0;
    count = std::min(count, kMaxReaders);
    std::vector<TDispositivoDP>& table = b_.DispositivosDP;
    MarkAllUnseen(table);
    for (uint32_t i = 0; i < count; ++i) {
      const TDPGuid& guid = guids[i];
      const auto found = std::find_if(table.begin(), table.end(), [&](const TDispositivoDP& e) {
        return SameGuid(e.GUID, guid);
      });
      if (found != table.end()) {
        found->Visto = true;
        continue;
      }
      TDPFPDeviceInfo info{};
      info.cbSize = sizeof info;
      if (api_.GetDeviceInfo(&guid, &info) != 0) continue;
      TDispositivoDP entry;
      entry.GUID = guid;
      entry.NumSerie = ReaderName(info.SerialNumber, std::size(info.SerialNumber));
      entry.Eh4000 = FieldText(info.ProductName, std::size(info.ProductName))
                         .starts_with(platform::TextView(kProduct4000));
      entry.Visto = true;
      table.push_back(std::move(entry));
    }
    DropUnseenIdle(table);
    if (own) api_.BufferFree(own);
  }

  // Under the lock: the entry of that name, looking again after a fresh
  // enumeration when there is none.
  TDispositivoDP* Find(const std::string& name) {
    if (TDispositivoDP* entry = FindEntry(b_.DispositivosDP, name)) return entry;
    Refresh(0, nullptr);
    return FindEntry(b_.DispositivosDP, name);
  }

  Binding& b_;
  const DPFPApiFunctions api_;
};

}  // namespace

std::unique_ptr<Family> MakeDPFPApiFamily(Binding& binding) {
  const platform::Module& m = *binding.library;
  DPFPApiFunctions api;
  api.Init = m.Function<TDPFPInit>("DPFPInit");
  api.Term = m.Function<TDPFPTerm>("DPFPTerm");
  api.EnumerateDevices = m.Function<TDPFPEnumerateDevices>("DPFPEnumerateDevices");
  api.GetDeviceInfo = m.Function<TDPFPGetDeviceInfo>("DPFPGetDeviceInfo");
  api.CreateAcquisition = m.Function<TDPFPCreateAcquisition>("DPFPCreateAcquisition");
  api.DestroyAcquisition = m.Function<TDPFPAcquisitionCall>("DPFPDestroyAcquisition");
  api.StartAcquisition = m.Function<TDPFPAcquisitionCall>("DPFPStartAcquisition");
  api.StopAcquisition = m.Function<TDPFPAcquisitionCall>("DPFPStopAcquisition");
  api.BufferFree = m.Function<TDPFPBufferFree>("DPFPBufferFree");
  if (!api.Init || !api.Term || !api.EnumerateDevices || !api.GetDeviceInfo ||
      !api.CreateAcquisition || !api.DestroyAcquisition || !api.StartAcquisition ||
      !api.StopAcquisition || !api.BufferFree) {
    return nullptr;
  }
  return std::make_unique<DPFPApiFamily>(binding, api);
}

// --- TTratadorMensagens -------------------------------------------------------

TTratadorMensagens::TTratadorMensagens(platform::Env& env, const DPFPApiFunctions& api, void* param,
                                       platform::Text readerName, bool rodar180, const TDPGuid& guid,
                                       TSMImageProc imageProc)
    : env_(env),
      api_(api),
      FParam(param),
      FNumSerie(std::move(readerName)),
      FNumSerieAnsi(platform::ToAnsi(FNumSerie)),
      FImageProc(imageProc),
      FGUID(guid),
      FRodar180(rodar180),
      image_(static_cast<size_t>(kDPFPApiWidth) * kSMImageHeight) {}

TTratadorMensagens::~TTratadorMensagens() { PararAquisicao(); }

bool TTratadorMensagens::IniciarAquisicao() {
  FHwnd = nullptr;
  try {
    FThread = std::make_unique<TThreadGenerica>(
        [this](TThreadGenerica& thread) { ThreadMensagens(thread); }, false, nullptr);
  } catch (const Exception&) {
    return false;
  }
  return true;
}

void TTratadorMensagens::PararAquisicao() {
  if (!FThread) return;
  FThread->Terminate();
  FThread->WaitFor();
  FThread.reset();
  FHOperation = nullptr;
}

bool TTratadorMensagens::OnOwnThread() const {
  return threadId_.load(std::memory_order_acquire) == platform::CurrentThreadId();
}

void TTratadorMensagens::ThreadMensagens(TThreadGenerica& thread) {
  threadId_.store(platform::CurrentThreadId(), std::memory_order_release);
  auto window = env_.CreateMessageQueue(
      [this](const platform::QueuedMessage& message) { TratarMensagem(message); });
  if (!window) return;
  FHwnd = window->Handle();

  TDPFPAcquisition operation = nullptr;
  bool created = false;
  for (const int32_t priority : kPriorities) {
    if (api_.CreateAcquisition(priority, &FGUID, kAcquisitionKind, FHwnd, DP_WM_IMAGE,
                               &operation) == 0) {
      created = true;
      break;
    }
  }
  if (!created) {
    FHwnd = nullptr;
    return;
  }
  FHOperation = operation;
  if (api_.StartAcquisition(operation) != 0) {
    api_.DestroyAcquisition(operation);
    FHOperation = nullptr;
    FHwnd = nullptr;
    return;
  }

  while (!thread.Terminated()) {
    // A stop is seen between two images, not only after a backlog.
    window->DispatchWaiting([&thread] { return thread.Terminated(); });
    if (thread.Terminated()) break;
    // A wait on the queue ends as soon as a message arrives and sees a stop
    // as soon as the plain sleep would.
    if (g_wait_on_message_queue.load(std::memory_order_relaxed)) {
      window->WaitForMessage(10);
    } else {
      env_.Sleep(10);
    }
  }

  api_.StopAcquisition(operation);
  api_.DestroyAcquisition(operation);
  window.reset();
  FHwnd = nullptr;
}

void TTratadorMensagens::TratarMensagem(const platform::QueuedMessage& message) {
  // Other messages have no meaning here (the default procedure's answer).
  if (message.message != DP_WM_IMAGE || message.wparam != DP_IMAGE_WPARAM) return;
  const auto* notice = reinterpret_cast<const TDPFPImageNotice*>(message.lparam);
  if (!notice || !notice->ImageBlock) return;
  const auto* block = static_cast<const uint8_t*>(notice->ImageBlock);
  TDPFPImageBlockHead head;
  std::memcpy(&head, block, sizeof head);
  try {
    // The 448 x 511 pixels at the top left become 320 x 365 (factor 1.4);
    // a smaller image is scaled whole.
    if (!FitImage(image_.data(), kDPFPApiWidth, kSMImageHeight, block + head.DataOffset, head.Width,
                  head.Height, 448, 511, FRodar180)) {
      return;
    }
  } catch (const std::bad_alloc&) {
    return;  // this image is lost, not the acquisition
  } catch (const Exception&) {
    return;
  }
  FImageProc(FNumSerieAnsi.c_str(), kDPFPApiWidth, kSMImageHeight, image_.data(), kSMResolution,
             FParam);
}

}  // namespace dactyra::capture::digitalpersona
