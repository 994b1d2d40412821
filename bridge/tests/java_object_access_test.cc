#include "bridge/java_object_access.h"

#include <gtest/gtest.h>

#include "bridge/tests/fake_jni.h"

namespace dactyra {
namespace {

using testing::FakeJni;

// Object 50 of class 60; the class object's own class (java.lang.Class) is 70.
class JavaObjectAccessTest : public ::testing::Test {
 protected:
  JavaObjectAccessTest() : env_(fake_.env()) {
    fake_.objectClass[50] = 60;
    fake_.objectClass[60] = 70;
    fake_.objectClass[80] = 90;  // a value object
    fake_.objectClass[90] = 70;
    fake_.methods["getName ()Ljava/lang/String;"] = 21;
    fake_.fields["count I"] = 31;
    fake_.fields["data [B"] = 32;
    fake_.fields["name Ljava/lang/String;"] = 33;
  }
  std::u16string ErrorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const EJNIError& e) {
      return e.message();
    }
    return u"(no error)";
  }

  FakeJni fake_;
  TJNIEnv env_;
  jobject object_ = FakeJni::Handle(50);
};

TEST_F(JavaObjectAccessTest, AccessorOwnsOnlyTheClassReference) {
  { TAcessoJNI a(env_, object_); }
  EXPECT_EQ(fake_.deletedLocal, std::vector<uintptr_t>{60});
  auto accessor = std::make_unique<TAcessoJNI>(env_, object_);
  EXPECT_EQ(TAcessoJNI::Liberar(std::move(accessor)), object_);
  EXPECT_EQ(fake_.deletedLocal, (std::vector<uintptr_t>{60, 60}));
  EXPECT_THROW((TAcessoJNI{env_, nullptr}), EJNIError);
}

TEST_F(JavaObjectAccessTest, ObjectFieldSignatures) {
  TAcessoJNI a(env_, object_);
  a.PegCampoObjeto(u"data", u"[B");
  EXPECT_EQ(fake_.CountLog("GetFieldID 60 data [B"), 1u);
  a.PegCampoObjeto(u"name", u"java/lang/String");
  EXPECT_EQ(fake_.CountLog("GetFieldID 60 name Ljava/lang/String;"), 1u);
  EXPECT_EQ(AssinaturaClasse(u"a/B$C"), u"La/B$C;");
}

TEST_F(JavaObjectAccessTest, SettingAnObjectFieldGuessesTheClassFromTheValue) {
  TAcessoJNI a(env_, object_);
  fake_.callObjectResult = fake_.NewUtfString("[B");
  a.DefCampoObjeto(u"data", FakeJni::Handle(80));
  EXPECT_EQ(fake_.CountLog("GetFieldID 60 data [B"), 1u);
  EXPECT_EQ(fake_.objectFields[32], FakeJni::Handle(80));

  fake_.callObjectResult = fake_.NewUtfString("java.lang.String");
  a.DefCampoObjeto(u"name", FakeJni::Handle(80));
  EXPECT_EQ(fake_.CountLog("GetFieldID 60 name Ljava/lang/String;"), 1u);
  // Per guess: the value's class, java.lang.Class and the name string go.
  EXPECT_EQ(std::count(fake_.deletedLocal.begin(), fake_.deletedLocal.end(), 90), 2);
  EXPECT_EQ(std::count(fake_.deletedLocal.begin(), fake_.deletedLocal.end(), 70), 2);
  EXPECT_EQ(fake_.violations, 0);
}

TEST_F(JavaObjectAccessTest, NullValueWithoutClassCannotBeGuessed) {
  TAcessoJNI a(env_, object_);
  EXPECT_EQ(ErrorOf([&] { a.DefCampoObjeto(u"data", nullptr); }),
            u"Impossible to guess object class");
  EXPECT_EQ(fake_.CountLog("SetObjectField"), 0u);
  a.DefCampoObjeto(u"data", nullptr, u"[B");  // with a class it clears the field
  EXPECT_EQ(fake_.objectFields[32], nullptr);
}

TEST_F(JavaObjectAccessTest, FieldOfTheWrongTypeIsNotFound) {
  TAcessoJNI a(env_, object_);
  EXPECT_EQ(ErrorOf([&] { a.GetCampoLong(u"count"); }), u"Field 'count' of type 'J' not found");
  EXPECT_TRUE(fake_.pending) << "JNI's lookup error stays pending";
  fake_.pending = false;
  a.SetCampoInt(u"count", 7);
  EXPECT_EQ(a.GetCampoInt(u"count"), 7);
  EXPECT_EQ(fake_.CountLog("GetFieldID 60 count I"), 2u) << "looked up at every access";
}

TEST_F(JavaObjectAccessTest, MissingVoidMethodCallsNothingAndRaisesNothing) {
  TAcessoJNI a(env_, object_);
  EXPECT_NO_THROW(a.ChamarVoid(u"setType", u"I", {2}));
  EXPECT_EQ(fake_.CountLog("GetMethodID 60 setType (I)V"), 1u);
  EXPECT_EQ(fake_.CountLog("CallVoidMethodA"), 0u);
  EXPECT_EQ(fake_.CountLog("ExceptionDescribe"), 1u);
  EXPECT_FALSE(fake_.pending);
  fake_.methods["setType (I)V"] = 22;
  a.ChamarVoid(u"setType", u"I", {2});
  ASSERT_EQ(fake_.argValues.size(), 1u);
  EXPECT_EQ(fake_.argValues[0][0].i, 2);
}

TEST_F(JavaObjectAccessTest, MissingConstructorOrMethodIsNeverCalled) {
  jclass cls = reinterpret_cast<jclass>(60);
  EXPECT_EQ(ErrorOf([&] { CriarObjeto(env_, cls, u"I", {1}); }),
            u"Method '<init>' of type '(I)V' not found");
  fake_.pending = false;
  EXPECT_EQ(ErrorOf([&] { ChamarRetString(env_, object_, u"label", {}, u""); }),
            u"Method 'label' of type '()Ljava/lang/String;' not found");
  fake_.pending = false;
  EXPECT_EQ(ErrorOf([&] { OrdinalEnum(env_, object_); }),
            u"Method 'ordinal' of type '()I' not found");
  EXPECT_EQ(fake_.CountLog("NewObjectA"), 0u);
  EXPECT_EQ(fake_.CountLog("Call"), 0u);
  EXPECT_EQ(fake_.violations, 0);
}

TEST_F(JavaObjectAccessTest, CreatedObjectIsWrapped) {
  fake_.methods["<init> (ILjava/lang/String;)V"] = 23;
  fake_.callObjectResult = object_;
  auto created =
      CriarObjeto(env_, reinterpret_cast<jclass>(60), u"ILjava/lang/String;", {3, u"n\u00e3o"});
  EXPECT_EQ(created->objeto(), object_);
  EXPECT_EQ(fake_.utf16Strings.begin()->second, u"n\u00e3o");
}

TEST_F(JavaObjectAccessTest, EnumConstantByName) {
  jclass enumClass = reinterpret_cast<jclass>(60);
  fake_.callObjectResult = fake_.NewUtfString("br.com.tessiva.X$Kind");
  fake_.fields["ImageScanned Lbr/com/tessiva/X$Kind;"] = 34;
  fake_.objectFields[34] = FakeJni::Handle(55);
  EXPECT_EQ(PegValorEnum(env_, enumClass, u"ImageScanned"), FakeJni::Handle(55));
  EXPECT_EQ(PegValorEnum(env_, enumClass, u"Missing"), nullptr);
  EXPECT_TRUE(fake_.pending);
  EXPECT_EQ(fake_.violations, 0);
}

TEST_F(JavaObjectAccessTest, NewByteArrayIsFilledFromTheBuffer) {
  const uint8_t bytes[3] = {1, 2, 3};
  jbyteArray array = NovoArrayBytes(env_, bytes, 3);
  EXPECT_NE(array, nullptr);
  EXPECT_EQ(fake_.CountLog("NewByteArray 3"), 1u);
  EXPECT_EQ(fake_.CountLog("SetByteArrayRegion " +
                           std::to_string(reinterpret_cast<uintptr_t>(array)) + " 0 3"),
            1u);
  EXPECT_THROW(NovoArrayBytes(env_, nullptr, 2), EJNIError);
  EXPECT_THROW(NovoArrayBytes(env_, bytes, -1), EJNIError);
  EXPECT_EQ(fake_.CountLog("NewByteArray"), 1u);
}

}  // namespace
}  // namespace dactyra
