#include "support/tokens.h"

namespace dactyra {

using platform::Text;
using platform::TextView;

namespace {

// 1-based position of `what` in `where`, 0 when absent; an empty `what` is
// never found.
size_t Pos(TextView what, TextView where) {
  if (what.empty()) return 0;
  const auto found = where.find(what);
  return found == TextView::npos ? 0 : found + 1;
}

// Up to `count` characters from the 1-based position `from`; empty beyond the
// end.
TextView Copy(TextView t, size_t from, size_t count = TextView::npos) {
  if (from < 1 || from > t.size()) return TextView();
  return t.substr(from - 1, count);
}

bool IsBlankOrControl(char16_t c) { return c <= u' '; }

}  // namespace

Text TirarAspasOuEspacos(TextView t) {
  if (t.size() < 2) return Text(t);
  if (t.front() == u'"') return Text(t.substr(1, t.size() - 2));
  size_t first = 0;
  size_t end = t.size();
  while (first < end && IsBlankOrControl(t[first])) ++first;
  while (end > first && IsBlankOrControl(t[end - 1])) --end;
  return Text(t.substr(first, end - first));
}

Text PegarToken(Text& texto, TextView separador) {
  const TextView text(texto);
  size_t p = Pos(separador, text);
  if (!text.empty() && text.front() == u'"') {
    // q: the closing quote's position in what follows the opening one.
    const size_t q = Pos(u"\"", Copy(text, 2));
    if (q > 0) {
      const size_t k = Pos(separador, Copy(text, q + 2));
      // Without a separator after the quotes, the character right after the
      // closing quote stands in for it.
      p = k > 0 ? q + 1 + k : q + 2;
    }
  }
  if (p == 0) {
    Text token = TirarAspasOuEspacos(text);
    texto.clear();
    return token;
  }
  Text token = TirarAspasOuEspacos(Copy(text, 1, p - 1));
  texto = Text(Copy(text, p + separador.size()));
  return token;
}

}  // namespace dactyra
