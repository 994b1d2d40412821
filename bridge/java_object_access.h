// Typed access to fields and methods of Java objects, by name and signature,
// looked up anew at every access (nothing is cached between calls).
//
// Missing things: a field that is not there raises EJNIError "Field '<name>'
// of type '<signature>' not found" with JNI's NoSuchFieldError left pending;
// a missing constructor or method in CriarObjeto, ChamarRetString and
// OrdinalEnum raises EJNIError "Method '<name>' of type '<signature>' not
// found" (NoSuchMethodError pending), so no call is ever made with a null
// identifier. ChamarVoidObjeto alone prints and clears the lookup error and
// calls nothing. A Java exception thrown by a called method raises
// EJavaException with the exception still pending.
#pragma once

#include <jni.h>

#include <memory>

#include "bridge/jni_arg.h"
#include "bridge/jni_env.h"
#include "platform/text.h"

namespace dactyra {

class TAcessoJNI {
 public:
  // `oj` must not be null (EJNIError otherwise). The object stays the
  // caller's; the accessor owns only the local reference to its class.
  TAcessoJNI(TJNIEnv& env, jobject oj);
  ~TAcessoJNI();
  TAcessoJNI(const TAcessoJNI&) = delete;
  TAcessoJNI& operator=(const TAcessoJNI&) = delete;

  // Frees the accessor and returns its object, which stays valid.
  static jobject Liberar(std::unique_ptr<TAcessoJNI> accessor);

  jobject objeto() const { return FObjetoJava; }
  jclass classe() const { return FClasse; }

  jint GetCampoInt(platform::TextView nomeCampo);
  jlong GetCampoLong(platform::TextView nomeCampo);
  void SetCampoInt(platform::TextView nomeCampo, jint Value);
  // `nomeClasse` is a class path ("java/lang/String") or an array signature
  // ("[B"). The result is a local reference of the caller.
  jobject PegCampoObjeto(platform::TextView nomeCampo, platform::TextView nomeClasse);
  // With an empty `nomeClasse` the field's class is taken from `ojValor`.
  void DefCampoObjeto(platform::TextView nomeCampo, jobject ojValor,
                      platform::TextView nomeClasse = {});
  void ChamarVoid(platform::TextView nomeMetodo, platform::TextView tipos,
                  TJNIArgs parametros = {});

 private:
  jfieldID PegIdCampo(platform::TextView nomeCampo, platform::TextView tipo);

  TJNIEnv& FEnv;
  jobject FObjetoJava;
  jclass FClasse = nullptr;
};

// "L" + classPath + ";"
platform::Text AssinaturaClasse(platform::TextView classPath);
// The signature of an object field of class `nomeClasse`: an array
// signature ("[B") unchanged, a class path wrapped by AssinaturaClasse.
platform::Text AssinaturaCampoObjeto(platform::TextView nomeClasse);

// A new object of `cls` made by the constructor of argument signatures
// `tipos` (empty: the constructor without parameters).
std::unique_ptr<TAcessoJNI> CriarObjeto(TJNIEnv& env, jclass cls, platform::TextView tipos,
                                        TJNIArgs parametros = {});
void ChamarVoidObjeto(TJNIEnv& env, jobject object, platform::TextView nomeMetodo,
                      TJNIArgs parametros, platform::TextView tipos);
// Empty text for a null result.
platform::Text ChamarRetString(TJNIEnv& env, jobject object, platform::TextView nomeMetodo,
                               TJNIArgs parametros, platform::TextView tipos);
// The constant `nome` of the enum class `enumClass`, or null when there is
// none (JNI's NoSuchFieldError is then pending: the caller returns to Java
// or clears it).
jobject PegValorEnum(TJNIEnv& env, jclass enumClass, platform::TextView nome);
jint OrdinalEnum(TJNIEnv& env, jobject value);
jbyteArray NovoArrayBytes(TJNIEnv& env, const void* buffer, jsize length);

}  // namespace dactyra
