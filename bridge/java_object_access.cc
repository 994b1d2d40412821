#include "bridge/java_object_access.h"

#include <algorithm>

#include "bridge/local_ref.h"

namespace dactyra {

namespace {

using platform::Text;
using platform::TextView;

Text Join(std::initializer_list<TextView> parts) {
  Text out;
  for (TextView part : parts) out += part;
  return out;
}

[[noreturn]] void MethodNotFound(TextView name, TextView signature) {
  throw EJNIError(Join({u"Method '", name, u"' of type '", signature, u"' not found"}));
}

Text DotsToSlashes(Text name) {
  std::replace(name.begin(), name.end(), u'.', u'/');
  return name;
}

}  // namespace

TAcessoJNI::TAcessoJNI(TJNIEnv& env, jobject oj) : FEnv(env), FObjetoJava(oj) {
  if (oj == nullptr) throw EJNIError(u"Null Java object");
  FClasse = FEnv.GetObjectClass(oj);
  if (FClasse == nullptr) throw EJNIError(u"Class of a Java object not found");
}

TAcessoJNI::~TAcessoJNI() {
  if (FClasse != nullptr) FEnv.DeleteLocalRef(FClasse);
}

jobject TAcessoJNI::Liberar(std::unique_ptr<TAcessoJNI> accessor) {
  return accessor ? accessor->FObjetoJava : nullptr;
}

jfieldID TAcessoJNI::PegIdCampo(TextView nomeCampo, TextView tipo) {
  jfieldID field = FEnv.GetFieldID(FClasse, nomeCampo, tipo);
  if (field == nullptr) {
    throw EJNIError(Join({u"Field '", nomeCampo, u"' of type '", tipo, u"' not found"}));
  }
  return field;
}

jint TAcessoJNI::GetCampoInt(TextView nomeCampo) {
  return FEnv.GetIntField(FObjetoJava, PegIdCampo(nomeCampo, u"I"));
}

jlong TAcessoJNI::GetCampoLong(TextView nomeCampo) {
  return FEnv.GetLongField(FObjetoJava, PegIdCampo(nomeCampo, u"J"));
}

void TAcessoJNI::SetCampoInt(TextView nomeCampo, jint Value) {
  FEnv.SetIntField(FObjetoJava, PegIdCampo(nomeCampo, u"I"), Value);
}

jobject TAcessoJNI::PegCampoObjeto(TextView nomeCampo, TextView nomeClasse) {
  return FEnv.GetObjectField(FObjetoJava, PegIdCampo(nomeCampo, AssinaturaCampoObjeto(nomeClasse)));
}

void TAcessoJNI::DefCampoObjeto(TextView nomeCampo, jobject ojValor, TextView nomeClasse) {
  Text classText(nomeClasse);
  TLocalRef<jclass> valueClass(FEnv, nullptr);
  if (classText.empty()) {
    if (ojValor == nullptr) throw EJNIError(u"Impossible to guess object class");
    valueClass = TLocalRef<jclass>(FEnv, FEnv.GetObjectClass(ojValor));
    if (!valueClass) throw EJNIError(u"Impossible to guess object class");
    TLocalRef<jclass> classClass(FEnv, FEnv.GetObjectClass(valueClass.get()));
    if (!classClass) throw EJNIError(u"Impossible to guess object class");
    jmethodID getName = FEnv.GetMethodID(classClass.get(), u"getName", u"()Ljava/lang/String;");
    if (getName == nullptr) MethodNotFound(u"getName", u"()Ljava/lang/String;");
    TLocalRef<jstring> name(FEnv,
                            static_cast<jstring>(FEnv.CallObjectMethod(valueClass.get(), getName)));
    classText = DotsToSlashes(FEnv.JStringToString(name.get()));
  }
  jfieldID field = PegIdCampo(nomeCampo, AssinaturaCampoObjeto(classText));
  FEnv.SetObjectField(FObjetoJava, field, ojValor);
}

void TAcessoJNI::ChamarVoid(TextView nomeMetodo, TextView tipos, TJNIArgs parametros) {
  ChamarVoidObjeto(FEnv, FObjetoJava, nomeMetodo, parametros, tipos);
}

Text AssinaturaClasse(TextView classPath) { return Join({u"L", classPath, u";"}); }

Text AssinaturaCampoObjeto(TextView nomeClasse) {
  if (!nomeClasse.empty() && nomeClasse.front() == u'[') return Text(nomeClasse);
  return AssinaturaClasse(nomeClasse);
}

std::unique_ptr<TAcessoJNI> CriarObjeto(TJNIEnv& env, jclass cls, TextView tipos,
                                        TJNIArgs parametros) {
  if (cls == nullptr) throw EJNIError(u"Class of a new object not given");
  const Text signature = Join({u"(", tipos, u")V"});
  jmethodID constructor = env.GetMethodID(cls, u"<init>", signature);
  if (constructor == nullptr) MethodNotFound(u"<init>", signature);
  TLocalRef<> object(env, env.NewObject(cls, constructor, parametros));
  if (!object) throw EJNIError(u"Java object not created");
  auto accessor = std::make_unique<TAcessoJNI>(env, object.get());
  object.release();
  return accessor;
}

void ChamarVoidObjeto(TJNIEnv& env, jobject object, TextView nomeMetodo, TJNIArgs parametros,
                      TextView tipos) {
  if (object == nullptr) return;
  TLocalRef<jclass> cls(env, env.GetObjectClass(object));
  if (!cls) {
    env.ExceptionDescribe();
    return;
  }
  jmethodID method = env.GetMethodID(cls.get(), nomeMetodo, Join({u"(", tipos, u")V"}));
  if (method == nullptr) {
    env.ExceptionDescribe();
    return;
  }
  env.CallVoidMethod(object, method, parametros);
}

Text ChamarRetString(TJNIEnv& env, jobject object, TextView nomeMetodo, TJNIArgs parametros,
                     TextView tipos) {
  if (object == nullptr) throw EJNIError(u"Null Java object");
  TLocalRef<jclass> cls(env, env.GetObjectClass(object));
  if (!cls) throw EJNIError(u"Class of a Java object not found");
  const Text signature = Join({u"(", tipos, u")Ljava/lang/String;"});
  jmethodID method = env.GetMethodID(cls.get(), nomeMetodo, signature);
  if (method == nullptr) MethodNotFound(nomeMetodo, signature);
  TLocalRef<jstring> result(env,
                            static_cast<jstring>(env.CallObjectMethod(object, method, parametros)));
  return env.JStringToString(result.get());
}

jobject PegValorEnum(TJNIEnv& env, jclass enumClass, TextView nome) {
  if (enumClass == nullptr) return nullptr;
  const Text signature =
      AssinaturaClasse(DotsToSlashes(ChamarRetString(env, enumClass, u"getName", {}, u"")));
  jfieldID field = env.GetStaticFieldID(enumClass, nome, signature);
  if (field == nullptr) return nullptr;
  return env.GetStaticObjectField(enumClass, field);
}

jint OrdinalEnum(TJNIEnv& env, jobject value) {
  if (value == nullptr) throw EJNIError(u"Null Java object");
  TLocalRef<jclass> cls(env, env.GetObjectClass(value));
  if (!cls) throw EJNIError(u"Class of a Java object not found");
  jmethodID ordinal = env.GetMethodID(cls.get(), u"ordinal", u"()I");
  if (ordinal == nullptr) MethodNotFound(u"ordinal", u"()I");
  return env.CallIntMethod(value, ordinal);
}

jbyteArray NovoArrayBytes(TJNIEnv& env, const void* buffer, jsize length) {
  if (length < 0) throw EJNIError(u"Negative array length");
  if (buffer == nullptr && length > 0) throw EJNIError(u"No bytes for a Java array");
  jbyteArray array = env.NewByteArray(length);
  if (array == nullptr) throw EJNIError(u"Java array not created");
  if (length > 0) {
    TLocalRef<jbyteArray> guard(env, array);
    env.SetByteArrayRegion(array, 0, buffer, length);
    guard.release();
  }
  return array;
}

}  // namespace dactyra
