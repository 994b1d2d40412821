// One composite-image exchange through Execute and GetCompositeImage,
// against the floor of copying the same bytes once: the cost of the
// framework (request build, the transport's copy into the receive buffer,
// parse, the image's copy to the caller).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "plugins/lumidigm/v100/catalogue.h"
#include "plugins/lumidigm/v100/execute.h"
#include "plugins/lumidigm/v100/host_calls.h"

namespace dactyra::v100 {
namespace {

constexpr uint32_t kImageBytes = 352 * 544;

std::vector<uint8_t> ImageResponse() {
  std::vector<uint8_t> p(kEmptyPacketSize + 8 + kImageBytes, 0x42);
  WriteHeader(p.data(), {kSync, 67, 0, 8 + kImageBytes});
  StoreU32(p.data() + 12, 1);
  StoreU32(p.data() + 16, kImageBytes);
  return p;
}

// Answers every exchange with the same prepared packet.
class RepeatTransport : public ITransport {
 public:
  explicit RepeatTransport(std::vector<uint8_t> answer) : answer_(std::move(answer)) {}
  int32_t Open(V100TransportInfo&) override { return 0; }
  int32_t Close(V100TransportInfo&) override { return 0; }
  bool Exchange(V100TransportInfo&, const uint8_t*, uint32_t, uint8_t* receive,
                uint32_t& length) override {
    std::memcpy(receive, answer_.data(), answer_.size());
    length = static_cast<uint32_t>(answer_.size());
    return true;
  }
  bool GetLockName(std::string& name) const override {
    name.clear();
    return true;
  }

 private:
  std::vector<uint8_t> answer_;
};

void BM_GetCompositeImage(benchmark::State& state) {
  RepeatTransport transport(ImageResponse());
  V100TransportInfo info;
  info.transport = &transport;
  std::vector<uint8_t> image(kImageBytes);
  int32_t leading = 0;
  uint32_t length = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetCompositeImage(info, leading, length, image));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK(BM_GetCompositeImage);

void BM_CopyFloor(benchmark::State& state) {
  const std::vector<uint8_t> packet = ImageResponse();
  std::vector<uint8_t> image(kImageBytes);
  for (auto _ : state) {
    std::memcpy(image.data(), packet.data() + 20, kImageBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK(BM_CopyFloor);

}  // namespace
}  // namespace dactyra::v100

BENCHMARK_MAIN();
