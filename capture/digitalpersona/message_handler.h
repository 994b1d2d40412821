// The DPFPApi family's capture of one reader: a message thread with a hidden
// window (a message queue) that DPFPApi posts every image to.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/digitalpersona/scan_man.h"
#include "platform/env.h"
#include "plugins/interface/digitalpersona.h"
#include "support/generic_thread.h"

namespace dactyra::capture::digitalpersona {

// The exports of DPFPApi the binding calls.
struct DPFPApiFunctions {
  TDPFPInit Init = nullptr;
  TDPFPTerm Term = nullptr;
  TDPFPEnumerateDevices EnumerateDevices = nullptr;
  TDPFPGetDeviceInfo GetDeviceInfo = nullptr;
  TDPFPCreateAcquisition CreateAcquisition = nullptr;
  TDPFPAcquisitionCall DestroyAcquisition = nullptr;
  TDPFPAcquisitionCall StartAcquisition = nullptr;
  TDPFPAcquisitionCall StopAcquisition = nullptr;
  TDPFPBufferFree BufferFree = nullptr;
};

// One capturing reader. Created and destroyed under the binding lock; its
// image procedure runs on the message thread.
class TTratadorMensagens {
 public:
  TTratadorMensagens(platform::Env& env, const DPFPApiFunctions& api, void* param,
                     platform::Text readerName, bool rodar180, const TDPGuid& guid,
                     TSMImageProc imageProc);
  // Stops the acquisition and waits for the message thread.
  ~TTratadorMensagens();
  TTratadorMensagens(const TTratadorMensagens&) = delete;
  TTratadorMensagens& operator=(const TTratadorMensagens&) = delete;

  // Starts the message thread; false when it could not be created.
  bool IniciarAquisicao();
  void PararAquisicao();
  // True on the message thread.
  bool OnOwnThread() const;

 private:
  void ThreadMensagens(TThreadGenerica& thread);
  void TratarMensagem(const platform::QueuedMessage& message);

  platform::Env& env_;
  const DPFPApiFunctions api_;
  void* const FParam;
  const platform::Text FNumSerie;
  const std::string FNumSerieAnsi;
  const TSMImageProc FImageProc;
  const TDPGuid FGUID;
  // Touched by the message thread only, and after it has ended.
  void* FHwnd = nullptr;
  TDPFPAcquisition FHOperation = nullptr;
  const bool FRodar180;
  std::unique_ptr<TThreadGenerica> FThread;
  std::atomic<uint64_t> threadId_{0};
  // The delivered image, reused for every message.
  std::vector<uint8_t> image_;
};

}  // namespace dactyra::capture::digitalpersona
