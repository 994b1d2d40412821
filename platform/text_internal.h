// Pieces of the text conversions shared by the back ends; not for use
// outside platform/.
#pragma once

#include <string>

#include "platform/text.h"

namespace dactyra::platform::internal {

// The locale's simple case mapping of one UTF-16 unit (no change for units
// without a partner).
char16_t UpperCaseUnit(char16_t c);
char16_t LowerCaseUnit(char16_t c);

// Standard UTF-8 in which a lone surrogate becomes `lone`.
std::string EncodeUtf8WithLoneSurrogateAs(TextView text, char32_t lone);

}  // namespace dactyra::platform::internal
