// The "ANSI code page" of this platform is UTF-8.
#include "platform/text.h"

#include "platform/text_internal.h"

namespace dactyra::platform {

std::string ToAnsi(TextView text) { return internal::EncodeUtf8WithLoneSurrogateAs(text, U'?'); }

Text FromAnsi(std::string_view bytes) { return FromUtf8(bytes); }

}  // namespace dactyra::platform
