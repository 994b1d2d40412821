// Splitting texts into tokens, as reader names are split into module prefix
// and serial.
#pragma once

#include "platform/text.h"

namespace dactyra {

// Takes the first token off `texto`: what comes before the first
// `separador`, trimmed or without its enclosing double quotes. `texto` keeps
// what follows that separator. A separator inside a leading double-quoted
// part does not count. Without a separator the whole text is the token and
// `texto` becomes empty; an empty separator is never found.
platform::Text PegarToken(platform::Text& texto, platform::TextView separador);

// `t` without its enclosing double quotes when it begins with one (the last
// character goes, whatever it is), else without leading and trailing blanks
// and control characters. Texts shorter than 2 characters stay as they are.
platform::Text TirarAspasOuEspacos(platform::TextView t);

}  // namespace dactyra
