// A host that ends while it captures: loads the plug-in given, opens the
// sensor given, takes one image, leaves a thread calling VXR_GetImage
// without pause, prints "ready" and returns from main, so the process runs
// its exit while the thread is inside the plug-in. Exits with 2 when it
// could not get that far; anything else than 0 then comes from the exit.
//
//   exit_while_capturing PLUGIN SERIAL
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "plugins/interface/vxr_plugin.h"

namespace {

int Fail(const char* why) {
  std::fprintf(stderr, "exit_while_capturing: %s\n", why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dactyra::platform;
  if (argc != 3) return 2;
  // Kept loaded to the end, as a Java VM keeps its libraries: the exit
  // runs the plug-in's own ends, not an unload.
  static Module* module = Env::Default().LoadModule(FromUtf8(argv[1])).release();
  if (!module) return Fail("the plug-in does not load");
  auto list = module->Function<TFuncVXR_GetDeviceList>("VXR_GetDeviceList");
  auto open = module->Function<TFuncVXR_OpenDevice>("VXR_OpenDevice");
  auto size_of = module->Function<TFuncVXR_GetMaxSize>("VXR_GetMaxSize");
  static TFuncVXR_GetImage image = module->Function<TFuncVXR_GetImage>("VXR_GetImage");
  if (!list || !open || !size_of || !image) return Fail("the plug-in lacks an export");
  std::vector<uint8_t> block(256);
  list(reinterpret_cast<PVxrDeviceList>(block.data()), 256);
  static TVxrCaptureHandle handle = open(argv[2]);
  TVxrImageSize size{};
  if (!handle || !size_of(handle, &size)) return Fail("the sensor does not open");
  // Never freed: the thread writes into it until the process is gone.
  static std::vector<uint8_t>& buffer = *new std::vector<uint8_t>(sizeof(TVxrImage) + size.ByteSize);
  int calls = 0;
  while (!image(handle, reinterpret_cast<PVxrImage>(buffer.data()))) {
    if (++calls > 1000) return Fail("no image in 1000 calls");
  }
  std::thread([] {
    for (;;) image(handle, reinterpret_cast<PVxrImage>(buffer.data()));
  }).detach();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::printf("ready\n");
  std::fflush(stdout);
  return 0;
}
