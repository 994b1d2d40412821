// The JNI entry points of br.com.tessiva.scanners.ScannerMan and Scanner,
// and the delivery of captured images to the Java scanner as
// Scanner$ScanEvent objects on the capture run's event thread.
#include <jni.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bridge/attached_thread.h"
#include "bridge/entry_frames.h"
#include "bridge/java_object_access.h"
#include "bridge/jni_error.h"
#include "bridge/local_ref.h"
#include "capture/reader_manager.h"
#include "scanning/inner_scanner.h"
#include "scanning/scanner_list.h"
#include "scanning/scanners_lock.h"

namespace dactyra {

namespace {

using platform::Text;

constexpr char16_t kClasseEvento[] = u"br/com/tessiva/scanners/Scanner$ScanEvent";
constexpr char16_t kAssinaturaGetter[] = u"()Ljava/lang/Class;";

// Delivers the images of one capture run to the Java scanner: attaches the
// event thread, finds the event, kind and image classes through the
// scanner class's static getters, and calls fireEvent once per image.
class TEntregaJava final : public TEntregaEventos {
 public:
  // `scanner` is a global reference; the event thread deletes it when it
  // ends.
  explicit TEntregaJava(jobject scanner) : FScanner(scanner) {}

  void Executar(const std::function<void()>& laco) override {
    const jobject entregues[] = {FScanner};
    RunAttached(entregues, [&](TJNIEnv& env) {
      FEnv = &env;
      struct Fim {
        TEntregaJava& self;
        ~Fim() {
          self.FEnv = nullptr;
          self.FClasseEvento.reset();
          self.FClasseTipo.reset();
          self.FClasseImagem.reset();
        }
      } fim{*this};
      TLocalRef<jclass> classe(env, env.GetObjectClass(FScanner));
      if (!classe) throw EJNIError(u"Class of the Java scanner not found");
      FClasseEvento = Getter(env, classe.get(), u"getEventClass");
      FClasseTipo = Getter(env, classe.get(), u"getEventKindClass");
      FClasseImagem = Getter(env, classe.get(), u"getImageClass");
      laco();
    });
  }

  void Entregar(const bibgi::TGrayImage& imagem) override {
    TJNIEnv& env = *FEnv;
    std::unique_ptr<TAcessoJNI> evento = CriarObjeto(env, FClasseEvento->get(), u"");
    TLocalRef<> eventoRef(env, evento->objeto());
    TLocalRef<> tipo(env, PegValorEnum(env, FClasseTipo->get(), u"ImageScanned"));
    if (!tipo) throw EJNIError(u"Enum constant 'ImageScanned' not found");
    evento->DefCampoObjeto(u"kind", tipo.get());

    const int32_t w = imagem.Width;
    const int32_t h = imagem.Height;
    std::unique_ptr<TAcessoJNI> objImagem =
        CriarObjeto(env, FClasseImagem->get(), u"II", {TJNIArg(w), TJNIArg(h)});
    TLocalRef<> imagemRef(env, objImagem->objeto());
    TLocalRef<jbyteArray> buffer(
        env, static_cast<jbyteArray>(objImagem->PegCampoObjeto(u"buffer", u"[B")));
    const size_t tamanho = static_cast<size_t>(w) * static_cast<size_t>(h);
    if (!buffer || static_cast<size_t>(env.GetArrayLength(buffer.get())) < tamanho) {
      throw EJNIError(u"Image buffer shorter than its pixels");
    }
    if (tamanho > 0) {
      FLinhas.resize(tamanho);
      for (int32_t y = 0; y < h; ++y) {
        std::memcpy(FLinhas.data() + static_cast<size_t>(y) * static_cast<size_t>(w),
                    imagem.Bits[static_cast<size_t>(y)].data(), static_cast<size_t>(w));
      }
      env.SetByteArrayRegion(buffer.get(), 0, FLinhas.data(), static_cast<jsize>(tamanho));
    }
    TAcessoJNI::Liberar(std::move(objImagem));
    evento->DefCampoObjeto(u"image", imagemRef.get());

    try {
      ChamarVoidObjeto(env, FScanner, u"fireEvent", {TJNIArg(eventoRef.get())},
                       AssinaturaClasse(kClasseEvento));
    } catch (const EJavaException&) {
      // The listener threw: printed and cleared, and delivery goes on.
      env.ExceptionDescribe();
      if (env.ExceptionCheck()) env.ExceptionClear();
    }
  }

 private:
  static std::unique_ptr<TLocalRef<jclass>> Getter(TJNIEnv& env, jclass classe,
                                                   platform::TextView nome) {
    jmethodID metodo = env.GetStaticMethodID(classe, nome, kAssinaturaGetter);
    if (metodo == nullptr) throw EJNIError(Text(u"Method '") + Text(nome) + u"' not found");
    auto ref = std::make_unique<TLocalRef<jclass>>(
        env, static_cast<jclass>(env.CallStaticObjectMethod(classe, metodo)));
    if (!*ref) throw EJNIError(Text(u"Method '") + Text(nome) + u"' gave no class");
    return ref;
  }

  const jobject FScanner;
  TJNIEnv* FEnv = nullptr;
  std::unique_ptr<TLocalRef<jclass>> FClasseEvento;
  std::unique_ptr<TLocalRef<jclass>> FClasseTipo;
  std::unique_ptr<TLocalRef<jclass>> FClasseImagem;
  // The rows of one image as one block; reused from image to image.
  std::vector<uint8_t> FLinhas;
};

TTravaScanners gTrava;

// At process exit the loaded modules' own finalisers run in the reverse
// order of loading, before those of this library: the scanners must be
// stopped while their plug-ins are still whole. An exit handler registered
// after the last module load runs first, so one is registered again after
// a start whenever modules were loaded since the last registration.
size_t gModulosNaRegistro = SIZE_MAX;

void PararNaSaida() { ScannerList().Descarregar(); }

void RegistrarParadaNaSaida() {
  const size_t modulos = GarantirGestor(true).Modulos().size();
  if (modulos == gModulosNaRegistro) return;
  if (std::atexit(PararNaSaida) == 0) gModulosNaRegistro = modulos;
}

}  // namespace

TListaScanners& ScannerList() {
  // The reader access is made first, so that it is destroyed after the
  // list whose scanners use it; the list's destructor (library unload)
  // stops the scanners still capturing.
  TAcessoLeitores& leitores = AcessoLeitoresPadrao();
  static TListaScanners lista(leitores);
  return lista;
}

}  // namespace dactyra

using dactyra::TJNIEnv;

extern "C" {

JNIEXPORT jint JNICALL Java_br_com_tessiva_scanners_ScannerMan_innerGetScannerCount(JNIEnv* env,
                                                                                    jclass cls) {
  return dactyra::MonitorFrame(env, cls, dactyra::gTrava, dactyra::kScanManException,
                               [](TJNIEnv&) { return dactyra::ScannerList().ContarLeitores(); });
}

JNIEXPORT jlong JNICALL Java_br_com_tessiva_scanners_ScannerMan_innerGetScanner(JNIEnv* env,
                                                                                jclass cls,
                                                                                jint index) {
  return dactyra::MonitorFrame(
      env, cls, dactyra::gTrava, dactyra::kScanManException,
      [&](TJNIEnv&) -> jlong { return dactyra::ScannerList().PegScanner(index); });
}

JNIEXPORT void JNICALL Java_br_com_tessiva_scanners_ScannerMan_uninitialize(JNIEnv* env, jclass) {
  dactyra::LockedFrame(env, dactyra::gTrava, dactyra::kScanManException,
                       [](TJNIEnv&) { dactyra::ScannerList().Esvaziar(); });
}

JNIEXPORT void JNICALL Java_br_com_tessiva_scanners_Scanner_innerStartCapturing(JNIEnv* env,
                                                                                jobject self,
                                                                                jlong handle) {
  dactyra::ConvertingFrame(env, dactyra::gTrava, dactyra::kScanManException, [&](TJNIEnv& e) {
    dactyra::TInnerScanner& scanner = dactyra::ScannerList().Scanner(handle);
    // A second start of a capturing scanner does nothing.
    if (scanner.IsCapturing()) return;
    jobject ref = e.NewGlobalRef(self);
    if (ref == nullptr) throw dactyra::EJNIError(u"Out of memory");
    try {
      if (!scanner.StartCapturing(std::make_shared<dactyra::TEntregaJava>(ref))) {
        e.DeleteGlobalRef(ref);
        return;
      }
    } catch (...) {
      e.DeleteGlobalRef(ref);
      throw;
    }
    dactyra::RegistrarParadaNaSaida();
  });
}

JNIEXPORT void JNICALL Java_br_com_tessiva_scanners_Scanner_innerStopCapturing(JNIEnv* env, jobject,
                                                                               jlong handle) {
  dactyra::ConvertingFrame(env, dactyra::gTrava, dactyra::kScanManException, [&](TJNIEnv&) {
    dactyra::ScannerList().Scanner(handle).StopCapturing();
  });
}

JNIEXPORT jboolean JNICALL Java_br_com_tessiva_scanners_Scanner_innerIsCapturing(JNIEnv* env,
                                                                                 jobject,
                                                                                 jlong handle) {
  return dactyra::LockedFrame(
      env, dactyra::gTrava, dactyra::kScanManException, [&](TJNIEnv&) -> jboolean {
        return dactyra::ScannerList().Scanner(handle).IsCapturing() ? JNI_TRUE : JNI_FALSE;
      });
}

JNIEXPORT jstring JNICALL Java_br_com_tessiva_scanners_Scanner_innerGetID(JNIEnv* env, jobject,
                                                                          jlong handle) {
  return dactyra::LockedFrame(
      env, dactyra::gTrava, dactyra::kScanManException, [&](TJNIEnv& e) -> jstring {
        return e.StringToJString(
            dactyra::ScannerList().Scanner(handle).VelmoraFP().NumSerieLeitor());
      });
}

}  // extern "C"
