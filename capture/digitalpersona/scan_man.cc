// The DigitalPersona binding's operations: loading one of the two libraries,
// the reader table both families share, and fitting images to the delivered
// size.
#include "capture/digitalpersona/scan_man.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

#include "capture/digitalpersona/binding.h"
#include "capture/digitalpersona/capture_thread.h"
#include "capture/digitalpersona/message_handler.h"
#include "imaging/resample.h"
#include "support/exception.h"

namespace dactyra::capture::digitalpersona {

std::atomic<bool> g_wait_on_message_queue{true};

TDispositivoDP::TDispositivoDP() = default;
TDispositivoDP::TDispositivoDP(TDispositivoDP&&) noexcept = default;
TDispositivoDP& TDispositivoDP::operator=(TDispositivoDP&&) noexcept = default;
TDispositivoDP::~TDispositivoDP() = default;

bool TDispositivoDP::OnDeliveryThread() const {
  return (Thread && Thread->OnOwnThread()) || (Tratador && Tratador->OnOwnThread());
}

Family::~Family() = default;

namespace {

enum class Kind { kNone, kDPFPApi, kDpFpFns };

void Unload(Binding& b);

struct BindingHolder {
  Binding binding;
  Kind last_kind = Kind::kNone;
  // The library's unload: no capture thread may outlive the code it runs.
  ~BindingHolder() {
    Unload(binding);
    binding.DispositivosDP.clear();
  }
};

BindingHolder& Holder() {
  static BindingHolder holder;
  return holder;
}

std::unique_ptr<platform::Module> LoadLibrary(platform::Env& env, const char16_t* stem) {
  return env.LoadModule(platform::Text(stem) + platform::ModuleSuffix());
}

// Forgets the loaded library; the table stays for the same family's next
// load, so readers keep their places.
void Forget(Binding& b) {
  b.family.reset();
  b.lock.reset();
  b.library.reset();
  b.dpfp_initialised = false;
}

void Unload(Binding& b) {
  if (!b.library) return;
  if (b.lock) {
    std::lock_guard guard(*b.lock);
    // From an image procedure: the code of its own thread cannot go.
    for (const TDispositivoDP& entry : b.DispositivosDP) {
      if (entry.OnDeliveryThread()) return;
    }
    b.family->StopAll();
  }
  b.family->SMTerm();
  Forget(b);
}

}  // namespace

Binding& State() { return Holder().binding; }

bool SMLoad(platform::Env& env) {
  BindingHolder& holder = Holder();
  Binding& b = holder.binding;
  // A library stays loaded only while initialised.
  if (b.library) return true;
  b.env = &env;
  Kind kind = Kind::kNone;

  if (auto library = LoadLibrary(env, u"DPFPApi")) {
    const auto init = library->Function<TDPFPInit>("DPFPInit");
    if (init && init() == 0) {
      b.library = std::move(library);
      b.dpfp_initialised = true;
      b.family = MakeDPFPApiFamily(b);
      if (b.family) {
        kind = Kind::kDPFPApi;
      } else {
        // Initialised but unusable: hand it back before letting it go.
        if (const auto term = b.library->Function<TDPFPTerm>("DPFPTerm")) term();
        Forget(b);
      }
    }
  }
  if (!b.library) {
    if (auto library = LoadLibrary(env, u"dpFpFns")) {
      b.library = std::move(library);
      b.family = MakeDpFpFnsFamily(b);
      if (b.family) {
        kind = Kind::kDpFpFns;
      } else {
        Forget(b);
      }
    }
  }
  if (!b.library) return false;

  // Readers of the other library are not these readers.
  if (kind != holder.last_kind) b.DispositivosDP.clear();
  holder.last_kind = kind;

  if (b.family->SMInit() == 0) return true;
  // A library whose initialisation failed is not kept: every call answers as
  // without a library, and the next SMLoad tries afresh.
  Forget(b);
  return false;
}

void SMUnload() { Unload(State()); }

int SMDeviceCount() {
  Binding& b = State();
  return b.family ? b.family->SMDeviceCount() : 0;
}

platform::Text SMGetScannerId(int index) {
  static const char16_t* const kMessage = u"Can not retrieve scanner id";
  Binding& b = State();
  if (!b.family) throw Exception(kMessage);
  const int needed = b.family->SMDeviceName(index, nullptr, 0);
  if (needed < 1) throw Exception(kMessage);
  // The name may have changed between the two calls; the copy keeps to the
  // buffer whatever it is now.
  std::vector<char> buffer(static_cast<size_t>(needed), '\0');
  if (b.family->SMDeviceName(index, buffer.data(), needed) < 0) throw Exception(kMessage);
  return platform::FromAnsi(std::string_view(buffer.data(), strnlen(buffer.data(), buffer.size())));
}

int SMStartCapture(const platform::Text& name, TSMImageProc image_proc, void* reserved,
                   void* param) {
  Binding& b = State();
  if (!b.family) return kSMNotInitialised;
  return b.family->SMStartCapture(platform::ToAnsi(name), image_proc, reserved, param);
}

int SMStopCapture(const platform::Text& name) {
  Binding& b = State();
  if (!b.family) return kSMNotInitialised;
  return b.family->SMStopCapture(platform::ToAnsi(name));
}

// --- Reader table ------------------------------------------------------------

platform::Text FieldText(const uint16_t* field, size_t capacity) {
  platform::Text text;
  for (size_t i = 0; i < capacity && field[i] != 0; ++i) text.push_back(field[i]);
  return text;
}

platform::Text ReaderName(const uint16_t* identifier, size_t capacity) {
  const platform::Text text = FieldText(identifier, capacity);
  platform::Text name = u"UareU\\";
  if (text.size() > 2) name.append(text, 1, text.size() - 2);
  return name;
}

void MarkAllUnseen(std::vector<TDispositivoDP>& table) {
  for (TDispositivoDP& entry : table) entry.Visto = false;
}

void DropUnseenIdle(std::vector<TDispositivoDP>& table) {
  std::erase_if(table,
                [](const TDispositivoDP& entry) { return !entry.Visto && !entry.Capturing(); });
}

TDispositivoDP* FindEntry(std::vector<TDispositivoDP>& table, const std::string& name) {
  for (TDispositivoDP& entry : table) {
    if (platform::ToAnsi(entry.NumSerie) == name) return &entry;
  }
  return nullptr;
}

int CopyName(const platform::Text& name, char* dest, int maxLen) {
  const std::string ansi = platform::ToAnsi(name);
  if (ansi.size() >= static_cast<size_t>(INT_MAX)) return kSMFailed;
  if (dest && maxLen > 0) {
    const size_t count = std::min(ansi.size(), static_cast<size_t>(maxLen) - 1);
    std::memcpy(dest, ansi.data(), count);
    dest[count] = '\0';
  }
  return static_cast<int>(ansi.size()) + 1;
}

// --- Images ------------------------------------------------------------------

bool FitImage(uint8_t* dst, int32_t dst_width, int32_t dst_height, const uint8_t* src,
              int32_t width, int32_t height, int32_t src_rect_width, int32_t src_rect_height,
              bool turned) {
  if (!dst || !src || width <= 0 || height == 0 || height == INT32_MIN) return false;
  const int32_t rows = height < 0 ? -height : height;
  if (int64_t{width} * rows > kMaxSourcePixels) return false;
  const RowViewPtr source = MakeRowView(width, height, const_cast<uint8_t*>(src));
  const RowViewPtr target = MakeRowView(dst_width, dst_height, dst);
  const int32_t used_width = std::min(src_rect_width, width);
  const int32_t used_height = std::min(src_rect_height, rows);
  if (turned) {
    ResampleAreaTurned(target.get(), source.get(), dst_width - 1, dst_height - 1, 0, 0, dst_width,
                       dst_height, used_width, used_height);
  } else {
    ResampleArea(target.get(), source.get(), 0, 0, 0, 0, dst_width, dst_height, used_width,
                 used_height);
  }
  return true;
}

}  // namespace dactyra::capture::digitalpersona
