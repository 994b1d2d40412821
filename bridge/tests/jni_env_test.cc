#include "bridge/jni_env.h"

#include <gtest/gtest.h>

#include "bridge/tests/fake_jni.h"
#include "platform/text.h"

namespace dactyra {
namespace {

using testing::FakeJni;

class JniEnvTest : public ::testing::Test {
 protected:
  JniEnvTest() : env_(fake_.env()) {
    fake_.methods["run (IZ)V"] = 11;
    fake_.methods["mix (IJDCZLjava/lang/Object;Ljava/lang/Object;)V"] = 12;
    fake_.methods["texts (Ljava/lang/String;Ljava/lang/String;)V"] = 13;
    fake_.methods["one (I)V"] = 14;
    fake_.methods["none ()V"] = 15;
    fake_.methods["three (III)V"] = 16;
  }
  jmethodID Method(uintptr_t id) { return reinterpret_cast<jmethodID>(id); }

  FakeJni fake_;
  TJNIEnv env_;
  jobject target_ = FakeJni::Handle(7);
};

TEST_F(JniEnvTest, NoArgumentsPassANullArray) {
  env_.CallVoidMethod(target_, Method(15));
  env_.NewObject(reinterpret_cast<jclass>(8), Method(15), {});
  ASSERT_EQ(fake_.argPointers.size(), 2u);
  EXPECT_EQ(fake_.argPointers[0], nullptr);
  EXPECT_EQ(fake_.argPointers[1], nullptr);
  EXPECT_EQ(env_.ScratchSize(), 0u);
}

TEST_F(JniEnvTest, ScratchArrayIsSizedExactlyAndKeptWhileTheCountStays) {
  env_.CallVoidMethod(target_, Method(11), {1, true});
  const jvalue* first = env_.ScratchArgs();
  EXPECT_EQ(env_.ScratchSize(), 2u);
  EXPECT_EQ(fake_.argPointers.back(), first);
  env_.CallVoidMethod(target_, Method(11), {2, false});
  EXPECT_EQ(env_.ScratchArgs(), first) << "same count: the array is reused";
  env_.CallVoidMethod(target_, Method(16), {1, 2, 3});
  EXPECT_EQ(env_.ScratchSize(), 3u);
  env_.CallVoidMethod(target_, Method(14), {9});
  EXPECT_EQ(env_.ScratchSize(), 1u);
  EXPECT_EQ(fake_.argValues.back()[0].i, 9);
  env_.CallVoidMethod(target_, Method(15));
  EXPECT_EQ(env_.ScratchSize(), 0u);
  EXPECT_EQ(env_.ScratchArgs(), nullptr);
}

TEST_F(JniEnvTest, EachKindBecomesItsJniValue) {
  const int dummy = 0;
  env_.CallVoidMethod(target_, Method(12),
                      {int32_t{-5}, int64_t{1} << 40, 2.5, u'\u00e7', true, FakeJni::Handle(42),
                       TJNIArg::Pointer(&dummy)});
  ASSERT_EQ(fake_.argValues.size(), 1u);
  const auto& v = fake_.argValues[0];
  ASSERT_EQ(v.size(), 7u);
  EXPECT_EQ(v[0].i, -5);
  EXPECT_EQ(v[1].j, int64_t{1} << 40);
  EXPECT_EQ(v[2].d, 2.5);
  EXPECT_EQ(v[3].c, 0xE7);
  EXPECT_EQ(v[4].z, JNI_TRUE);
  EXPECT_EQ(v[5].l, FakeJni::Handle(42));
  EXPECT_EQ(v[6].l, reinterpret_cast<jobject>(const_cast<int*>(&dummy)));
}

TEST_F(JniEnvTest, TextArgumentsBecomeJavaStringsFreedAfterTheCall) {
  // 8-bit text is in the ANSI code page (UTF-8 on POSIX).
  const std::string ansi = platform::ToAnsi(u"a\u00e7\u00e3o");
  env_.CallVoidMethod(target_, Method(13), {ansi.c_str(), std::u16string(u"x\0y", 3)});
  ASSERT_EQ(fake_.utfStrings.size(), 1u);
  ASSERT_EQ(fake_.utf16Strings.size(), 1u);
  // 8-bit text is re-encoded as modified UTF-8, UTF-16 text passes with its
  // count, embedded U+0000 included.
  EXPECT_EQ(fake_.utfStrings.begin()->second, "a\xc3\xa7\xc3\xa3o");
  EXPECT_EQ(fake_.utf16Strings.begin()->second, std::u16string(u"x\0y", 3));
  const auto& v = fake_.argValues[0];
  EXPECT_EQ(reinterpret_cast<uintptr_t>(v[0].l), fake_.utfStrings.begin()->first);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(v[1].l), fake_.utf16Strings.begin()->first);
  EXPECT_EQ(fake_.deletedLocal.size(), 2u) << "both strings are deleted after the call";
}

TEST_F(JniEnvTest, UnsupportedKindStopsTheCallBeforeJava) {
  for (TJNIArg bad : {TJNIArg(uint32_t{1}), TJNIArg(U'x'), TJNIArg(1.5f)}) {
    fake_.log.clear();
    try {
      env_.CallVoidMethod(target_, Method(13), {u"made first?", bad});
      FAIL() << "no error";
    } catch (const EJNIError& e) {
      EXPECT_EQ(e.message(), u"Unsupported variant argument");
    }
    EXPECT_EQ(fake_.CountLog("CallVoidMethodA"), 0u);
    EXPECT_EQ(fake_.CountLog("NewString"), 0u) << "nothing is made in the VM";
  }
}

TEST_F(JniEnvTest, JavaExceptionInACallIsRaisedAndNothingRunsWhilePending) {
  fake_.callThrows = true;
  EXPECT_THROW(env_.CallVoidMethod(target_, Method(14), {1}), EJavaException);
  EXPECT_TRUE(fake_.pending);
  EXPECT_THROW(env_.CallIntMethod(target_, Method(14), {1}), EJavaException);
  EXPECT_GT(fake_.violations, 0) << "the fake notices a call made with a pending exception";
}

TEST_F(JniEnvTest, NamesAndMessagesCrossInModifiedUtf8) {
  fake_.classes["br/com/\xc3\xa9"] = 5;
  EXPECT_EQ(env_.FindClass(u"br/com/\u00e9"), reinterpret_cast<jclass>(5));
  // U+0000 becomes C0 80 and a character beyond the BMP its two surrogates,
  // three bytes each.
  env_.ThrowNew(reinterpret_cast<jclass>(5), std::u16string(u"a\0\U0001F600", 4));
  EXPECT_EQ(fake_.log.back(), "ThrowNew 5 a\xc0\x80\xed\xa0\xbd\xed\xb8\x80");
  env_.ExceptionClear();
  jstring s = env_.StringToJString(u"\u00e7\U0001F600");
  EXPECT_EQ(fake_.utfStrings[reinterpret_cast<uintptr_t>(s)], "\xc3\xa7\xed\xa0\xbd\xed\xb8\x80");
}

TEST_F(JniEnvTest, JavaStringsAreDecodedFromModifiedUtf8) {
  jstring s = fake_.NewUtfString("x\xc0\x80\xed\xa0\xbd\xed\xb8\x80\xc3\xa3");
  EXPECT_EQ(env_.JStringToString(s), std::u16string(u"x\0\U0001F600\u00e3", 5));
  EXPECT_EQ(fake_.CountLog("ReleaseStringUTFChars"), 1u);
  EXPECT_EQ(env_.JStringToString(nullptr), u"");
  // Characters that cannot be obtained (nothing pending): empty text.
  EXPECT_EQ(env_.JStringToString(reinterpret_cast<jstring>(FakeJni::Handle(99))), u"");
}

}  // namespace
}  // namespace dactyra
