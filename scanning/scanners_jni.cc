// The JNI entry points of br.com.tessiva.scanners.ScannerMan and Scanner,
// and the delivery of captured images to the Java scanner as
// Scanner$ScanEvent objects on the capture run's event thread.
#include <jni.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

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

// The class path of `cls` ("java/lang/String"), from Class.getName.
Text NomeClasse(TJNIEnv& env, jclass cls) {
  Text nome = ChamarRetString(env, cls, u"getName", {}, u"");
  for (char16_t& c : nome) {
    if (c == u'.') c = u'/';
  }
  return nome;
}

// Delivers the images of one capture run to the Java scanner: attaches the
// event thread, finds the event, kind and image classes through the
// scanner class's static getters, and calls fireEvent once per image.
//
// The classes, the kind constant and the member identifiers are looked up
// once per capture run, when the thread starts, rather than for every image:
// they cannot change while the classes are loaded. A contract that does not
// hold (a missing field or constructor, a field of another class) ends the
// thread before the first event; a missing fireEvent is printed and every
// event is built and dropped.
class TEntregaJava final : public TEntregaEventos {
 public:
  // `scanner` is a global reference; the event thread deletes it when it
  // ends.
  explicit TEntregaJava(jobject scanner) : FScanner(scanner) {}

  void Executar(const std::function<void()>& laco) override {
    const jobject entregues[] = {FScanner};
    RunAttached(entregues, [&](TJNIEnv& env) {
      TLocalRef<jclass> classe(env, env.GetObjectClass(FScanner));
      if (!classe) throw EJNIError(u"Class of the Java scanner not found");
      TLocalRef<jclass> evento = Getter(env, classe.get(), u"getEventClass");
      TLocalRef<jclass> tipo = Getter(env, classe.get(), u"getEventKindClass");
      TLocalRef<jclass> imagem = Getter(env, classe.get(), u"getImageClass");
      TLocalRef<> imageScanned(env, PegValorEnum(env, tipo.get(), u"ImageScanned"));
      if (!imageScanned) throw EJNIError(u"Enum constant 'ImageScanned' not found");
      TLocalRef<jclass> classeTipo(env, env.GetObjectClass(imageScanned.get()));

      Contrato c;
      c.env = &env;
      c.evento = evento.get();
      c.imagem = imagem.get();
      c.imageScanned = imageScanned.get();
      c.eventoInit = Metodo(env, evento.get(), u"<init>", u"()V");
      c.imagemInit = Metodo(env, imagem.get(), u"<init>", u"(II)V");
      c.kind =
          Campo(env, evento.get(), u"kind", AssinaturaClasse(NomeClasse(env, classeTipo.get())));
      c.image = Campo(env, evento.get(), u"image", AssinaturaClasse(NomeClasse(env, imagem.get())));
      c.buffer = Campo(env, imagem.get(), u"buffer", u"[B");
      // Appended rather than summed: g++ 12 at -O3 sees a false overlap
      // (-Wrestrict) in the operator+ chain.
      std::u16string assinaturaFire = u"(";
      assinaturaFire += AssinaturaClasse(kClasseEvento);
      assinaturaFire += u")V";
      c.fireEvent = env.GetMethodID(classe.get(), u"fireEvent", assinaturaFire);
      if (c.fireEvent == nullptr) env.ExceptionDescribe();

      FContrato = &c;
      struct Fim {
        TEntregaJava& self;
        ~Fim() { self.FContrato = nullptr; }
      } fim{*this};
      laco();
    });
  }

  void Entregar(const TGrayImage& imagem) override {
    const Contrato& c = *FContrato;
    TJNIEnv& env = *c.env;
    TLocalRef<> evento(env, env.NewObject(c.evento, c.eventoInit));
    if (!evento) throw EJNIError(u"Java object not created");
    env.SetObjectField(evento.get(), c.kind, c.imageScanned);

    const int32_t w = imagem.Width;
    const int32_t h = imagem.Height;
    TLocalRef<> objImagem(env, env.NewObject(c.imagem, c.imagemInit, {TJNIArg(w), TJNIArg(h)}));
    if (!objImagem) throw EJNIError(u"Java object not created");
    TLocalRef<jbyteArray> buffer(
        env, static_cast<jbyteArray>(env.GetObjectField(objImagem.get(), c.buffer)));
    const size_t tamanho = static_cast<size_t>(w) * static_cast<size_t>(h);
    if (!buffer || static_cast<size_t>(env.GetArrayLength(buffer.get())) < tamanho) {
      throw EJNIError(u"Image buffer shorter than its pixels");
    }
    if (tamanho > 0) {
      env.SetByteArrayRegion(buffer.get(), 0, imagem.Bits.Pixels().data(),
                             static_cast<jsize>(tamanho));
    }
    env.SetObjectField(evento.get(), c.image, objImagem.get());

    if (c.fireEvent == nullptr) return;
    try {
      env.CallVoidMethod(FScanner, c.fireEvent, {TJNIArg(evento.get())});
    } catch (const EJavaException&) {
      // The listener threw: printed and cleared, and delivery goes on.
      env.ExceptionDescribe();
      if (env.ExceptionCheck()) env.ExceptionClear();
    }
  }

 private:
  // What the deliveries of one run use; valid while Executar runs.
  struct Contrato {
    TJNIEnv* env = nullptr;
    jclass evento = nullptr;
    jclass imagem = nullptr;
    jobject imageScanned = nullptr;
    jmethodID eventoInit = nullptr;
    jmethodID imagemInit = nullptr;
    jmethodID fireEvent = nullptr;
    jfieldID kind = nullptr;
    jfieldID image = nullptr;
    jfieldID buffer = nullptr;
  };

  static TLocalRef<jclass> Getter(TJNIEnv& env, jclass classe, platform::TextView nome) {
    jmethodID metodo = env.GetStaticMethodID(classe, nome, kAssinaturaGetter);
    if (metodo == nullptr) throw EJNIError(Text(u"Method '") + Text(nome) + u"' not found");
    TLocalRef<jclass> ref(env, static_cast<jclass>(env.CallStaticObjectMethod(classe, metodo)));
    if (!ref) throw EJNIError(Text(u"Method '") + Text(nome) + u"' gave no class");
    return ref;
  }

  static jmethodID Metodo(TJNIEnv& env, jclass cls, platform::TextView nome,
                          platform::TextView assinatura) {
    jmethodID id = env.GetMethodID(cls, nome, assinatura);
    if (id == nullptr) throw EJNIError(Text(u"Method '") + Text(nome) + u"' not found");
    return id;
  }

  static jfieldID Campo(TJNIEnv& env, jclass cls, platform::TextView nome,
                        platform::TextView assinatura) {
    jfieldID id = env.GetFieldID(cls, nome, assinatura);
    if (id == nullptr) throw EJNIError(Text(u"Field '") + Text(nome) + u"' not found");
    return id;
  }

  const jobject FScanner;
  const Contrato* FContrato = nullptr;
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
