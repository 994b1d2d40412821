// The dpFpFns family's capture of one reader: a thread that waits on the
// imageReady event the library signals, fetches the image and delivers it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/digitalpersona/scan_man.h"
#include "platform/env.h"
#include "plugins/interface/digitalpersona.h"

namespace dactyra::capture::digitalpersona {

// The exports of dpFpFns the binding calls.
struct DpFpFnsFunctions {
  TFT_init init = nullptr;
  TFT_terminate terminate = nullptr;
  TFT_getNumDevices getNumDevices = nullptr;
  TFT_getDeviceList getDeviceList = nullptr;
  TFT_getDeviceInfo getDeviceInfo = nullptr;
  TFT_connectDevice connectDevice = nullptr;
  TFT_contextCall disconnectDevice = nullptr;
  TFT_startMonitoringDevice startMonitoringDevice = nullptr;
  TFT_acquireImage acquireImage = nullptr;
  TFT_setupUIlink setupUIlink = nullptr;
  TFT_getImagePixels getImagePixels = nullptr;
  TFT_createContext createContext = nullptr;
  TFT_contextCall closeContext = nullptr;
};

// One capturing reader. The constructor connects and sets up monitoring and,
// when all of that worked, starts the thread; ErroCaptura tells whether it
// failed (then nothing runs and nothing is left connected).
class TThreadCapturaDP {
 public:
  TThreadCapturaDP(platform::Env& env, const DpFpFnsFunctions& api, const TFTDeviceInfo& devInfo,
                   platform::Text readerName, TSMImageProc imageProc, void* param);
  // Stops the thread (when it runs) and releases the event.
  ~TThreadCapturaDP();
  TThreadCapturaDP(const TThreadCapturaDP&) = delete;
  TThreadCapturaDP& operator=(const TThreadCapturaDP&) = delete;

  bool ErroCaptura() const { return FErroCaptura; }
  // Tells the thread to end, wakes it and waits until it has ended.
  void Stop();
  // True on the capture thread.
  bool OnOwnThread() const;

 private:
  void Execute();
  void Release();

  platform::Env& env_;
  const DpFpFnsFunctions api_;
  const platform::Text FNumSerie;
  const std::string FNumSerieAnsi;
  TFTContext FContexto = nullptr;
  const TSMImageProc FImageProc;
  void* const FParam;
  std::unique_ptr<platform::SharedEvent> FEventoImageReady;
  TFTDeviceEvents FEvents{};
  TFTUILink link_{};
  bool FErroCaptura = false;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  uint32_t FImgSize = 0;
  std::atomic<bool> terminated_{false};
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace dactyra::capture::digitalpersona
