// Tagged argument values for calls into Java: each value carries its kind,
// and the kind decides how it becomes one JNI argument.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "platform/text.h"

namespace dactyra {

class TJNIArg {
 public:
  enum class Kind {
    kInteger,   // jint
    kPointer,   // a reference value held by the library, passed as jobject
    kObject,    // a Java reference, passed as jobject
    kBoolean,   // jboolean
    kExtended,  // jdouble
    kChar,      // jchar
    kInt64,     // jlong
    kText8,     // new Java string from 8-bit (ANSI) text
    kText16,    // new Java string from UTF-16 text
    // Kinds a native caller can hold but that have no single JNI form; a call
    // given one of them fails before Java is entered.
    kCardinal,   // unsigned 32-bit: no unsigned Java type
    kCodePoint,  // one character may need two jchar units
    kSingle,     // would need a jfloat, which no operation passes
  };

  TJNIArg(int32_t v) : kind_(Kind::kInteger), value_(v) {}
  TJNIArg(bool v) : kind_(Kind::kBoolean), value_(v) {}
  TJNIArg(double v) : kind_(Kind::kExtended), value_(static_cast<long double>(v)) {}
  TJNIArg(long double v) : kind_(Kind::kExtended), value_(v) {}
  TJNIArg(char16_t v) : kind_(Kind::kChar), value_(v) {}
  TJNIArg(int64_t v) : kind_(Kind::kInt64), value_(v) {}
  TJNIArg(jobject v) : kind_(Kind::kObject), value_(static_cast<const void*>(v)) {}
  TJNIArg(std::nullptr_t) : kind_(Kind::kObject), value_(static_cast<const void*>(nullptr)) {}
  TJNIArg(const char* v) : kind_(Kind::kText8), value_(std::string(v)) {}
  TJNIArg(std::string v) : kind_(Kind::kText8), value_(std::move(v)) {}
  TJNIArg(const char16_t* v) : kind_(Kind::kText16), value_(platform::Text(v)) {}
  TJNIArg(platform::Text v) : kind_(Kind::kText16), value_(std::move(v)) {}
  TJNIArg(uint32_t v) : kind_(Kind::kCardinal), value_(static_cast<int64_t>(v)) {}
  TJNIArg(char32_t v) : kind_(Kind::kCodePoint), value_(static_cast<int64_t>(v)) {}
  TJNIArg(float v) : kind_(Kind::kSingle), value_(static_cast<long double>(v)) {}

  // A plain pointer travels as a reference value, unchanged.
  static TJNIArg Pointer(const void* p) { return TJNIArg(Kind::kPointer, p); }

  Kind kind() const { return kind_; }
  int32_t integer() const { return std::get<int32_t>(value_); }
  bool boolean() const { return std::get<bool>(value_); }
  long double extended() const { return std::get<long double>(value_); }
  char16_t character() const { return std::get<char16_t>(value_); }
  int64_t int64() const { return std::get<int64_t>(value_); }
  jobject object() const {
    return static_cast<jobject>(const_cast<void*>(std::get<const void*>(value_)));
  }
  const std::string& text8() const { return std::get<std::string>(value_); }
  const platform::Text& text16() const { return std::get<platform::Text>(value_); }

 private:
  TJNIArg(Kind kind, const void* p) : kind_(kind), value_(p) {}

  Kind kind_;
  std::variant<int32_t, bool, long double, char16_t, int64_t, const void*, std::string,
               platform::Text>
      value_;
};

// The arguments of one call, in order. Built from a braced list at the call
// site ({5, u"text"}) or from any contiguous sequence of TJNIArg; a braced
// list lives until the end of the full expression, which covers the call.
class TJNIArgs {
 public:
  TJNIArgs() = default;
  TJNIArgs(std::initializer_list<TJNIArg> args) : args_(args.begin(), args.size()) {}
  TJNIArgs(std::span<const TJNIArg> args) : args_(args) {}

  size_t size() const { return args_.size(); }
  bool empty() const { return args_.empty(); }
  const TJNIArg& operator[](size_t i) const { return args_[i]; }

 private:
  std::span<const TJNIArg> args_;
};

}  // namespace dactyra
