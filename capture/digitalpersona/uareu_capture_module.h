// DigitalPersona's readers as a capture module: prefix "UareU", readers
// named "UareU\<identifier>", listed after every other module's. Its devices
// push their images as FPSmm devices do: the binding calls back on a thread
// of its own (a message thread or a capture thread), where each image is
// copied into the device's buffer and handed to OnImage.
//
// The library is loaded on first need (counting, listing, an activation)
// and unloaded by the reader manager when the last scanner component goes.
//
// Threads and locks: the module has no lock of its own. The binding asks
// that loading, unloading and counting never run beside another of its
// calls, so the reader manager makes every call of this module, and every
// Close of its devices, under its DigitalPersona lock (and never under the
// manager lock: a stop waits for the binding's delivery thread). An image
// handler of these devices must not call the reader manager.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "capture/capture_device.h"
#include "capture/capture_module.h"
#include "capture/digitalpersona/scan_man.h"
#include "platform/env.h"
#include "platform/text.h"

namespace dactyra {

// The DigitalPersona operations the module uses; by default the real
// binding of capture/digitalpersona. Tests give their own.
class TLeitoresUareU {
 public:
  using TSMImageProc = capture::digitalpersona::TSMImageProc;

  virtual ~TLeitoresUareU() = default;
  // Loads the library when it is present; true when usable.
  virtual bool Carregar(platform::Env& env) const = 0;
  // Terminates and unloads it.
  virtual void Descarregar() const = 0;
  // Number of readers.
  virtual int ContarDispositivos() const = 0;
  // Name of reader `indice` ("UareU\..."); raises on failure.
  virtual platform::Text NomeLeitor(int indice) const = 0;
  // Starts capture on the reader `nome`; its images go to `proc` with
  // `param`. A negative status when it did not start.
  virtual int IniciarCaptura(const platform::Text& nome, TSMImageProc proc, void* param) const = 0;
  // Stops it; once this returns, `proc` is not running for it any more.
  virtual int PararCaptura(const platform::Text& nome) const = 0;

  // The binding of capture/digitalpersona.
  static const TLeitoresUareU& Padrao();
  // No DigitalPersona library on this machine: nothing loads, no readers.
  static const TLeitoresUareU& Nenhum();
};

class TUareUCaptureModule final : public TCaptureModule {
 public:
  // `binding` and `env` outlive the module.
  TUareUCaptureModule(const TLeitoresUareU& binding, platform::Env& env);

  // Loads the library when it is not loaded; true when usable.
  bool Carregar();
  // Unloads it (stopping every capture it runs).
  void Descarregar();

  // 0 when the library does not load.
  int32_t DeviceCount() override;
  int32_t GetDeviceList(std::vector<platform::Text>& lista) override;
  // The device capturing on "UareU\<serialNumber>"; null when the library
  // does not load or the binding refuses the start.
  std::unique_ptr<TVxCaptureDevice> OpenDevice(const platform::Text& serialNumber) override;

 private:
  const TLeitoresUareU& FBinding;
  platform::Env& FEnv;
};

class TUareUCaptureDevice final : public TVxCaptureDevice {
 public:
  TUareUCaptureDevice(const TLeitoresUareU& binding, platform::Text nome);
  // Stops capturing when Close has not.
  ~TUareUCaptureDevice() override;

  // Starts the binding's capture; the status it answered.
  int Iniciar();

  // Images are pushed, never pulled.
  void Allocate() override {}
  bool WaitImage() override { return false; }
  // Stops the capture; once it returns no image arrives.
  void Close() override;
  // No commands: EVelmoraFP "Dispositivo não suporta comandos.".
  platform::Text SendCommandStr(const platform::Text& command, const platform::Text& args,
                                bool noHandle) override;
  bool MayHoldDelivery() const override { return false; }

  // The image procedure's work, on the binding's thread.
  void ImagemRecebida(int32_t width, int32_t height, const uint8_t* pixels);

 private:
  static void DP_STDCALL ImagemUareU(const char* scannerId, int32_t width, int32_t height,
                                     const uint8_t* image, int32_t resolution, void* param);

  const TLeitoresUareU& FBinding;
  const platform::Text FNome;
  std::atomic<bool> FCapturando{false};
  // Pixel bytes the buffer holds past its header; the binding's thread
  // alone changes it.
  size_t FTamanhoBuffer = 0;
};

}  // namespace dactyra
