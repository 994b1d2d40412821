// The binding over the open engine VxExtract.so: the contract headers agree,
// and synthetic fingers give records whose minutiae match their ground
// truth as well as the engine measures on its own.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <numbers>

#include "sim/extract/vx_extract.h"
#include "templates/extractor.h"
#include "templates/record_walk.h"
#include "templates/tests/extract_test_env.h"
#include "templates/tests/finger_set.h"

namespace dactyra::templates {
namespace {

static_assert(sizeof(TVxExtractorConfiguration) == VX_EXTRACT_CONFIG_SIZE);
static_assert(alignof(TVxExtractorConfiguration) <= VX_EXTRACT_CONFIG_ALIGN);
static_assert(offsetof(VxTemplateOps, ExportRecord) ==
              VX_TEMPLATE_OP_EXPORT_RECORD * sizeof(void*));
static_assert(offsetof(VxTemplateOps, Release) == VX_TEMPLATE_OP_RELEASE * sizeof(void*));

// The set the engine's quality is measured on (fewer under the sanitizers,
// as there).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kFingers = 3;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr int kFingers = 3;
#else
constexpr int kFingers = 10;
#endif
#else
constexpr int kFingers = 10;
#endif

TEST(OpenEngine, SyntheticFingersGiveRecordsMatchingTheirGroundTruth) {
  testing::LibraryFolder library;
  library.PutEngine(VX_OPEN_ENGINE_PATH);
  testing::ExtractEnv env;
  platform::CriticalSection lock;
  TVxExtractor extractor(env, lock, library.text());
  const uint64_t handle = extractor.CreateExtractor();

  size_t truth = 0, found = 0, matched = 0;
  for (int i = 0; i < kFingers; ++i) {
    const auto imp = testing::TestFinger(i);
    const auto record = extractor.Extract(handle, imp.pixels, imp.width, imp.height, 2, 1);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ((*record)[12], 2);
    EXPECT_EQ((*record)[13], 1);
    const auto block = FindBlock(*record, kMinutia);
    ASSERT_TRUE(block.has_value());
    std::vector<testing::FoundMinutia> minutiae;
    for (const RecordItem& item : ReadItems(*record, *block)) {
      minutiae.push_back({static_cast<double>(item.x), static_cast<double>(item.y),
                          item.angle * 2 * std::numbers::pi / 256});
    }
    truth += imp.minutiae.size();
    found += minutiae.size();
    matched += testing::MatchedMinutiae(imp.minutiae, minutiae);
  }
  ASSERT_GT(found, 0u);
  std::printf("matched %zu of %zu found, %zu true\n", matched, found, truth);
  EXPECT_GE(static_cast<double>(matched) / found, testing::kEnginePrecisionFloor)
      << matched << "/" << found;
  EXPECT_GE(static_cast<double>(matched) / truth, testing::kEngineRecallFloor)
      << matched << "/" << truth;
}

}  // namespace
}  // namespace dactyra::templates
