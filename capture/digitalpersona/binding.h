// The DigitalPersona binding's inner parts, shared by its two families: the
// binding state, the reader table and the image fitting both families use.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/digitalpersona/scan_man.h"
#include "imaging/row_view.h"
#include "platform/env.h"
#include "platform/module.h"
#include "platform/threads.h"
#include "plugins/interface/digitalpersona.h"

namespace dactyra::capture::digitalpersona {

class TTratadorMensagens;
class TThreadCapturaDP;

// One reader of the table.
struct TDispositivoDP {
  TDispositivoDP();
  TDispositivoDP(TDispositivoDP&&) noexcept;
  TDispositivoDP& operator=(TDispositivoDP&&) noexcept;
  ~TDispositivoDP();

  // dpFpFns: the reader's description; zero for DPFPApi.
  TFTDeviceInfo DevInfo{};
  // DPFPApi: the reader's identity; zero for dpFpFns.
  TDPGuid GUID{};
  // DPFPApi: a "U.are.U® 4000" reader, whose images are turned by 180°.
  bool Eh4000 = false;
  // "UareU\<identifier>".
  platform::Text NumSerie;
  std::unique_ptr<TThreadCapturaDP> Thread;
  std::unique_ptr<TTratadorMensagens> Tratador;
  // Set by a refresh for every reader the enumeration still lists.
  bool Visto = false;

  bool Capturing() const { return Thread != nullptr || Tratador != nullptr; }
  // True when called on this reader's delivery thread.
  bool OnDeliveryThread() const;
};

// The six routines of a family. SMStartCapture and SMStopCapture take the
// name in the ANSI code page. StopAll ends every capture (under the lock).
class Family {
 public:
  virtual ~Family();
  virtual int SMInit() = 0;
  virtual int SMTerm() = 0;
  virtual int SMDeviceCount() = 0;
  virtual int SMDeviceName(int index, char* dest, int maxLen) = 0;
  virtual int SMStartCapture(const std::string& name, TSMImageProc image_proc, void* reserved,
                             void* param) = 0;
  virtual int SMStopCapture(const std::string& name) = 0;
  virtual void StopAll() = 0;
};

// The state of the binding: one library at a time.
struct Binding {
  platform::Env* env = nullptr;
  std::unique_ptr<platform::Module> library;
  std::unique_ptr<Family> family;
  // Exists between a successful SMInit and SMTerm.
  std::unique_ptr<platform::CriticalSection> lock;
  bool dpfp_initialised = false;
  std::vector<TDispositivoDP> DispositivosDP;
};

Binding& State();

// Makes the families: null when the library lacks an export (DPFPApi: after
// DPFPInit succeeded, which the caller has called).
std::unique_ptr<Family> MakeDPFPApiFamily(Binding& binding);
std::unique_ptr<Family> MakeDpFpFnsFamily(Binding& binding);

// --- Reader table ------------------------------------------------------------

// "UareU\" and the identifier without its first and last character; the
// identifier is read up to its NUL or `capacity` units, whichever is first.
platform::Text ReaderName(const uint16_t* identifier, size_t capacity);
// The NUL-terminated UTF-16 text in a field of `capacity` units.
platform::Text FieldText(const uint16_t* field, size_t capacity);

// Refresh steps 1 and 4.
void MarkAllUnseen(std::vector<TDispositivoDP>& table);
void DropUnseenIdle(std::vector<TDispositivoDP>& table);

// The entry named exactly `name` (ANSI), or null.
TDispositivoDP* FindEntry(std::vector<TDispositivoDP>& table, const std::string& name);

// Copies `name` for SMDeviceName: answers its length in ANSI bytes + 1 and,
// when dest is not null, writes at most maxLen - 1 of them and a NUL.
int CopyName(const platform::Text& name, char* dest, int maxLen);

// --- Images ------------------------------------------------------------------

// Brings `src` (width x |height| pixels) to dst_width x dst_height in `dst`:
// the top-left src_rect_width x src_rect_height pixels are averaged down, or
// the whole image when it is smaller than that either way (so nothing is
// read outside it). Turned by 180 degrees when `turned`. False, with `dst`
// untouched, for an image with no pixels or more than kMaxSourcePixels.
inline constexpr int64_t kMaxSourcePixels = int64_t{1} << 26;
bool FitImage(uint8_t* dst, int32_t dst_width, int32_t dst_height, const uint8_t* src,
              int32_t width, int32_t height, int32_t src_rect_width, int32_t src_rect_height,
              bool turned);

// The message thread waits on its queue with a 10 ms time-out between
// dispatches (true, the default) or sleeps 10 ms between them (false). Both
// see a stop within 10 ms; waiting delivers as soon as a message arrives.
// For benchmarks that compare the two.
extern std::atomic<bool> g_wait_on_message_queue;

}  // namespace dactyra::capture::digitalpersona
