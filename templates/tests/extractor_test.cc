// The extractor over a recording engine: handles, the two-call export, the
// faults it refuses, the image log on the way, and extractions from several
// threads at once.
#include "templates/extractor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "templates/image_log.h"
#include "templates/tests/extract_test_env.h"

namespace dactyra::templates {
namespace {

namespace fs = std::filesystem;
using platform::Text;
using testing::ExtractEnv;
using testing::LibraryFolder;

std::vector<uint8_t> Picture(int w, int h, uint8_t base) {
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>((base + i * 7) % 200);
  return pixels;
}

uint32_t Sum(const std::vector<uint8_t>& pixels) {
  uint32_t sum = 0;
  for (uint8_t p : pixels) sum += p;
  return sum;
}

uint16_t At16(const std::vector<uint8_t>& r, size_t i) {
  return static_cast<uint16_t>(r[i] | r[i + 1] << 8);
}

// What the recording engine writes into the header: what reached it.
void ExpectRecordOf(const std::vector<uint8_t>& record, int w, int h, int position, int impression,
                    uint32_t sum) {
  ASSERT_GE(record.size(), 26u);
  ASSERT_EQ(std::memcmp(record.data(), "VXRC", 4), 0);
  EXPECT_EQ(At16(record, 4), w);
  EXPECT_EQ(At16(record, 6), h);
  EXPECT_EQ(At16(record, 8), 500);
  EXPECT_EQ(At16(record, 10), 500);
  EXPECT_EQ(record[12], position);
  EXPECT_EQ(record[13], impression);
  EXPECT_EQ(record[14], 1);  // save curvature
  EXPECT_EQ(record[15], 1);  // save G
  uint32_t recorded_sum;
  std::memcpy(&recorded_sum, record.data() + 16, 4);
  EXPECT_EQ(recorded_sum, sum);
  EXPECT_EQ(record[20], 1);  // the configuration held the engine's defaults
  EXPECT_EQ(record.size(), 26u + record[24] * 7u + 9u);
}

class ExtractorTest : public ::testing::Test {
 protected:
  ExtractEnv env;
  platform::CriticalSection lock;
  LibraryFolder library;
};

TEST_F(ExtractorTest, TwoExtractorsGetTwoRecordsAndTheEngineIsLoadedOnce) {
  library.PutEngine();
  TVxExtractor extractor(env, lock, library.text());
  const uint64_t a = extractor.CreateExtractor();
  const uint64_t b = extractor.CreateExtractor();
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(extractor.IsHandle(a));
  EXPECT_TRUE(extractor.IsHandle(b));
  EXPECT_FALSE(extractor.IsHandle(0));
  EXPECT_EQ(env.Loads().size(), 2u);  // by name, then the folder: once
  for (uint64_t handle : {a, b}) {
    EXPECT_EQ(handle % VX_EXTRACT_CONFIG_ALIGN, 0u);
    const auto* config = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(handle));
    for (int i = 0; i < VX_EXTRACT_CONFIG_SIZE; ++i) ASSERT_EQ(config[i], VxRecorderDefaultByte(i));
  }
  EXPECT_EQ(library.Engine().state->default_configs, 2);
}

TEST_F(ExtractorTest, AbsentEngineFailsUntilItIsPutInPlace) {
  TVxExtractor extractor(env, lock, library.text());
  EXPECT_EQ(extractor.EnginePath(), library.EnginePath());
  EXPECT_THROW(extractor.CreateExtractor(), EVxExtractLoad);
  EXPECT_FALSE(extractor.Bound());
  EXPECT_THROW(extractor.CreateExtractor(), EVxExtractLoad);
  EXPECT_EQ(env.Loads().size(), 4u);  // every call tries both places again
  library.PutEngine();
  EXPECT_NE(extractor.CreateExtractor(), 0u);
  EXPECT_TRUE(extractor.Bound());
}

TEST_F(ExtractorTest, LibraryFolderComesFromTheModuleThatHoldsTheCode) {
  TVxExtractor extractor(env, lock);
  const Text folder = extractor.LibraryFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), platform::PathDelimiter());
  // This test program holds the code here.
  EXPECT_EQ(fs::path(platform::ToUtf8(folder)),
            fs::path(platform::ToUtf8(platform::Env::Default().ExecutablePath())).parent_path() /
                "");
}

TEST_F(ExtractorTest, RecordHasTheAnnouncedSizeAndSaysWhatReachedTheEngine) {
  library.PutEngine();
  TVxExtractor extractor(env, lock, library.text());
  const uint64_t handle = extractor.CreateExtractor();
  const auto engine = library.Engine();
  for (auto [w, h, pos, imp] : {std::tuple{40, 30, 0, 0}, {64, 64, 10, 3}, {17, 91, 15, 7}}) {
    const auto pixels = Picture(w, h, static_cast<uint8_t>(pos));
    const int exports_before = engine.state->exports;
    const auto record = extractor.Extract(handle, pixels, w, h, pos, imp);
    ASSERT_TRUE(record.has_value());
    ExpectRecordOf(*record, w, h, pos, imp, Sum(pixels));
    EXPECT_EQ(engine.state->exports, exports_before + 2);  // size, then content
    EXPECT_EQ(static_cast<int32_t>(record->size()), engine.state->last_export_result);
    EXPECT_EQ(engine.state->last_config, reinterpret_cast<void*>(static_cast<uintptr_t>(handle)));
  }
  EXPECT_EQ(engine.state->templates_released, engine.state->templates_made);
  EXPECT_EQ(engine.state->violations, 0) << engine.state->last_violation;
}

TEST_F(ExtractorTest, NoTemplateMeansNothingAndNoExport) {
  library.PutEngine();
  TVxExtractor extractor(env, lock, library.text());
  const uint64_t handle = extractor.CreateExtractor();
  const auto engine = library.Engine();
  const std::vector<uint8_t> blank(50 * 40, 255);
  EXPECT_EQ(extractor.Extract(handle, blank, 50, 40, 1, 1), std::nullopt);
  EXPECT_EQ(engine.state->extractions, 1);
  EXPECT_EQ(engine.state->exports, 0);
}

TEST_F(ExtractorTest, EngineWithoutExportsGivesZeroedRecordsAndRefusesToExtract) {
  library.PutEngine(VX_RECORDER_BARE_PATH);
  TVxExtractor extractor(env, lock, library.text());
  const uint64_t handle = extractor.CreateExtractor();
  const auto* config = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(handle));
  for (int i = 0; i < VX_EXTRACT_CONFIG_SIZE; ++i) ASSERT_EQ(config[i], 0);
  const auto pixels = Picture(10, 10, 0);
  EXPECT_THROW(extractor.Extract(handle, pixels, 10, 10, 0, 0), ENoExtractMinutiae);
  EXPECT_EQ(library.Engine().state->exports, 0);
}

TEST_F(ExtractorTest, BadCallsReachNeitherTheLogNorTheEngine) {
  library.PutEngine();
  env.key_exists = true;
  env.si_integer = 1;
  TVxExtractor extractor(env, lock, library.text());
  const auto pixels = Picture(20, 10, 0);
  // Before any extractor exists, no handle is good.
  EXPECT_THROW(extractor.Extract(0x1000, pixels, 20, 10, 0, 0), EBadExtractorArgument);
  const uint64_t handle = extractor.CreateExtractor();
  struct Case {
    const char* name;
    uint64_t handle;
    int w;
    int h;
    size_t pixel_count;
  };
  for (const Case& c :
       {Case{"handle 0", 0, 20, 10, 200}, Case{"inside a record", handle + 8, 20, 10, 200},
        Case{"made up", 0xDEADBEEF, 20, 10, 200}, Case{"no width", handle, 0, 10, 200},
        Case{"negative height", handle, 20, -1, 200}, Case{"both negative", handle, -20, -10, 200},
        Case{"short buffer", handle, 20, 11, 200},
        Case{"product beyond 32 bits", handle, 65536, 65537, 200}}) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(
        extractor.Extract(c.handle, std::span(pixels).first(c.pixel_count), c.w, c.h, 0, 0),
        EBadExtractorArgument);
  }
  EXPECT_EQ(library.Engine().state->extractions, 0);
  EXPECT_EQ(env.registry_reads, 0);
  EXPECT_FALSE(fs::exists(fs::path(library.path()) / "imglog"));
}

TEST_F(ExtractorTest, LogsWhenSIIs1AndAFullDiskStopsNothing) {
  library.PutEngine();
  TVxExtractor extractor(env, lock, library.text());
  const uint64_t handle = extractor.CreateExtractor();
  const auto pixels = Picture(30, 20, 3);
  const fs::path file = fs::path(library.path()) / "imglog" / "20240301" / "000001.bmp";

  EXPECT_TRUE(extractor.Extract(handle, pixels, 30, 20, 0, 0).has_value());
  EXPECT_EQ(env.registry_reads, 1);
  EXPECT_FALSE(fs::exists(file));

  env.key_exists = true;  // read anew on the next call
  env.si_integer = 1;
  EXPECT_TRUE(extractor.Extract(handle, pixels, 30, 20, 0, 0).has_value());
  EXPECT_TRUE(fs::exists(file));
  fs::remove(file);

  env.disk_full = true;
  const auto record = extractor.Extract(handle, pixels, 30, 20, 2, 1);
  ASSERT_TRUE(record.has_value());
  ExpectRecordOf(*record, 30, 20, 2, 1, Sum(pixels));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(env.registry_reads, 3);
}

TEST_F(ExtractorTest, ExtractionsFromSeveralThreadsAtOnce) {
  library.PutEngine();
  env.key_exists = true;
  env.si_integer = 1;  // the log folder is shared too
  TVxExtractor extractor(env, lock, library.text());
  constexpr int kThreads = 4;
  constexpr int kRounds = 25;
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const uint64_t handle = extractor.CreateExtractor();
      for (int i = 0; i < kRounds; ++i) {
        // Each thread its own size, so the shared work buffer changes size
        // between calls of different threads.
        const int w = 16 + 8 * t + i % 3;
        const int h = 12 + 4 * t;
        const auto pixels = Picture(w, h, static_cast<uint8_t>(t * 31 + i));
        const auto record = extractor.Extract(handle, pixels, w, h, t, i % 4);
        if (!record) continue;
        uint32_t sum;
        std::memcpy(&sum, record->data() + 16, 4);
        if (At16(*record, 4) == w && At16(*record, 6) == h && (*record)[12] == t &&
            (*record)[13] == i % 4 && sum == Sum(pixels)) {
          ++good;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good.load(), kThreads * kRounds);
  const auto engine = library.Engine();
  EXPECT_EQ(engine.state->extractions, kThreads * kRounds);
  EXPECT_EQ(engine.state->templates_released, engine.state->templates_made);
  EXPECT_EQ(engine.state->violations, 0) << engine.state->last_violation;
}

}  // namespace
}  // namespace dactyra::templates
