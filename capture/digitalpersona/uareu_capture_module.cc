// The DigitalPersona binding behind the capture module interface.
#include "capture/digitalpersona/uareu_capture_module.h"

#include <cstring>
#include <limits>
#include <utility>

#include "capture/velmora_error.h"
#include "support/exception.h"

namespace dactyra {

namespace {

namespace dp = capture::digitalpersona;

class TBindingPadrao final : public TLeitoresUareU {
 public:
  bool Carregar(platform::Env& env) const override { return dp::SMLoad(env); }
  void Descarregar() const override { dp::SMUnload(); }
  int ContarDispositivos() const override { return dp::SMDeviceCount(); }
  platform::Text NomeLeitor(int indice) const override { return dp::SMGetScannerId(indice); }
  int IniciarCaptura(const platform::Text& nome, TSMImageProc proc, void* param) const override {
    return dp::SMStartCapture(nome, proc, nullptr, param);
  }
  int PararCaptura(const platform::Text& nome) const override { return dp::SMStopCapture(nome); }
};

class TSemBinding final : public TLeitoresUareU {
 public:
  bool Carregar(platform::Env&) const override { return false; }
  void Descarregar() const override {}
  int ContarDispositivos() const override { return 0; }
  platform::Text NomeLeitor(int) const override {
    throw Exception(u"Can not retrieve scanner id");
  }
  int IniciarCaptura(const platform::Text&, TSMImageProc, void*) const override {
    return dp::kSMNotInitialised;
  }
  int PararCaptura(const platform::Text&) const override { return dp::kSMNotInitialised; }
};

}  // namespace

const TLeitoresUareU& TLeitoresUareU::Padrao() {
  static const TBindingPadrao padrao;
  return padrao;
}

const TLeitoresUareU& TLeitoresUareU::Nenhum() {
  static const TSemBinding nenhum;
  return nenhum;
}

TUareUCaptureModule::TUareUCaptureModule(const TLeitoresUareU& binding, platform::Env& env)
    : TCaptureModule(u"uareu", u"UareU"), FBinding(binding), FEnv(env) {}

bool TUareUCaptureModule::Carregar() { return FBinding.Carregar(FEnv); }

void TUareUCaptureModule::Descarregar() { FBinding.Descarregar(); }

int32_t TUareUCaptureModule::DeviceCount() {
  return Carregar() ? FBinding.ContarDispositivos() : 0;
}

int32_t TUareUCaptureModule::GetDeviceList(std::vector<platform::Text>& lista) {
  if (!Carregar()) return 0;
  const int n = FBinding.ContarDispositivos();
  for (int i = 0; i < n; ++i) lista.push_back(FBinding.NomeLeitor(i));
  return n;
}

std::unique_ptr<TVxCaptureDevice> TUareUCaptureModule::OpenDevice(
    const platform::Text& serialNumber) {
  if (!Carregar()) return nullptr;
  auto device = std::make_unique<TUareUCaptureDevice>(FBinding, Prefix() + u"\\" + serialNumber);
  if (device->Iniciar() < 0) return nullptr;
  return device;
}

TUareUCaptureDevice::TUareUCaptureDevice(const TLeitoresUareU& binding, platform::Text nome)
    : TVxCaptureDevice(/*active=*/false, /*useThread=*/false),
      FBinding(binding),
      FNome(std::move(nome)) {}

TUareUCaptureDevice::~TUareUCaptureDevice() { Close(); }

int TUareUCaptureDevice::Iniciar() {
  const int status = FBinding.IniciarCaptura(FNome, &ImagemUareU, this);
  if (status >= 0) FCapturando.store(true);
  return status;
}

void TUareUCaptureDevice::Close() {
  // The stop's status is of no use: whatever it says, the binding delivers
  // nothing more for this reader once it returns.
  if (FCapturando.exchange(false)) FBinding.PararCaptura(FNome);
  ReleaseImageBuffer();
}

platform::Text TUareUCaptureDevice::SendCommandStr(const platform::Text&, const platform::Text&,
                                                   bool) {
  throw EVelmoraFP(u"Dispositivo não suporta comandos.");
}

void TUareUCaptureDevice::ImagemRecebida(int32_t width, int32_t height, const uint8_t* pixels) {
  if (width < 0 || height < 0 || (pixels == nullptr && width > 0 && height > 0)) return;
  const uint64_t bytes = uint64_t(width) * uint64_t(height);
  if (bytes > std::numeric_limits<int32_t>::max() - sizeof(TVxrImage)) return;
  if (width != ImageWidth() || height != ImageHeight() || !ImageRecord() ||
      bytes > FTamanhoBuffer) {
    ReplaceImageBuffer(std::make_unique_for_overwrite<uint8_t[]>(sizeof(TVxrImage) + bytes));
    FTamanhoBuffer = static_cast<size_t>(bytes);
    FImageWidth = width;
    FImageHeight = height;
  }
  if (bytes > 0) {
    std::memcpy(reinterpret_cast<uint8_t*>(ImageRecord()) + sizeof(TVxrImage), pixels,
                static_cast<size_t>(bytes));
  }
  DoImage();
}

void DP_STDCALL TUareUCaptureDevice::ImagemUareU(const char*, int32_t width, int32_t height,
                                                 const uint8_t* image, int32_t, void* param) {
  auto* device = static_cast<TUareUCaptureDevice*>(param);
  if (device == nullptr) return;
  // Nothing may unwind into the binding's thread.
  try {
    device->ImagemRecebida(width, height, image);
  } catch (...) {
  }
}

}  // namespace dactyra
