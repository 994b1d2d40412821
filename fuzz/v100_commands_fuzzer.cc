// Arbitrary bytes into the parsers of every V100 command class. The first
// byte chooses how the class is picked and whether a caller buffer is
// offered; the rest is the packet. A packet that parses completely must
// build again, and what it builds must parse back to the same packet.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "plugins/lumidigm/v100/catalogue.h"

using namespace dactyra::v100;

namespace {

// Builds the side again and checks that a fresh object reads the same
// bytes back whole and rebuilds them unchanged.
void CheckRebuild(ICmd& parsed, bool request) {
  std::span<const uint8_t> built;
  const bool ok = request ? parsed.PackRequest(built) : parsed.PackResponse(built);
  if (!ok && built.empty()) {
    // Only a class that reports false on success may fail after a whole
    // parse, and it still builds its packet.
    std::abort();
  }
  const std::vector<uint8_t> first(built.begin(), built.end());
  std::unique_ptr<ICmd> again = CommandFactory(parsed.GetCommandCode());
  if (again == nullptr) std::abort();
  if (request) {
    again->UnpackRequest(first);
  } else {
    again->UnpackResponse(first);
  }
  if (!again->ParsedCompletely()) std::abort();
  std::span<const uint8_t> rebuilt;
  if (request) {
    again->PackRequest(rebuilt);
  } else {
    again->PackResponse(rebuilt);
  }
  if (!std::equal(first.begin(), first.end(), rebuilt.begin(), rebuilt.end())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  const std::span<const uint8_t> packet(data + 1, size - 1);

  // Either the code the packet itself carries (as Execute does), or one of
  // the catalogue picked by the second byte.
  uint32_t code = 0;
  if ((mode & 1) != 0 && packet.size() >= 6) {
    code = LoadU32(packet.data() + 2);
  } else {
    const auto layouts = CatalogueLayouts();
    const size_t pick = packet[0] % (layouts.size() + 1);
    code = pick < layouts.size() ? layouts[pick].code : Atomic_Error::kCode;
  }

  std::vector<uint8_t> destination((mode >> 1) & 0x3F);
  for (const bool request : {true, false}) {
    std::unique_ptr<ICmd> cmd = CommandFactory(code);
    if (cmd == nullptr) return 0;
    auto* comport = dynamic_cast<Atomic_Config_Comport*>(cmd.get());
    if (comport != nullptr) comport->SetDestination(destination);
    if (request) {
      cmd->UnpackRequest(packet);
    } else {
      cmd->UnpackResponse(packet);
    }
    // The caller-buffer class builds from its own block, not from what it
    // parsed into the caller's buffer; it has no rebuild to compare.
    if (cmd->ParsedCompletely() && comport == nullptr && cmd->GetCommandCode() == code) {
      CheckRebuild(*cmd, request);
    }
  }
  return 0;
}
