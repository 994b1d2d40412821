// The reader-name classes of the reader manager's header, until the
// manager's own definitions are merged.
#include "capture/reader_manager.h"

namespace dactyra {

bool EhLeitorSemLista(platform::TextView name) {
  return name.substr(0, 3) == u"VX:" || name.substr(0, 3) == u"ZK\\";
}

platform::Text NomeGuidParaUareU(platform::TextView name) {
  if (!name.empty() && name[0] == u'{') {
    return u"UareU\\" + platform::Text(name.substr(1, name.size() >= 2 ? name.size() - 2 : 0));
  }
  return platform::Text(name);
}

}  // namespace dactyra
