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

// The set the engine's quality is measured on.
constexpr int kFingers = 10;

// The record of the engine called directly, as the binding calls it.
std::vector<uint8_t> DirectRecord(const platform::Module& engine,
                                  const sim::fingerprint::Impression& imp, int position,
                                  int impression) {
  TVxExtractorConfiguration config;
  engine.Function<VxGetDefaultConfigFn>("GetDefaultConfig")(&config);
  std::vector<uint8_t> binary(imp.pixels.size());
  VxTemplate* t = engine.Function<VxExtractMinutiaeFn>("ExtractMinutiae")(
      imp.pixels.data(), imp.width, imp.height, &config, 0, binary.data());
  if (t == nullptr) return {};
  std::vector<uint8_t> record(static_cast<size_t>(t->Ops->ExportRecord(
      t, nullptr, imp.width, imp.height, 500, 500, position, impression, 1, 1)));
  t->Ops->ExportRecord(t, record.data(), imp.width, imp.height, 500, 500, position, impression, 1,
                       1);
  t->Ops->Release(t);
  return record;
}

TEST(OpenEngine, SyntheticFingersGiveRecordsMatchingTheirGroundTruth) {
  testing::LibraryFolder library;
  library.PutEngine(VX_OPEN_ENGINE_PATH);
  testing::ExtractEnv env;
  platform::CriticalSection lock;
  TVxExtractor extractor(env, lock, library.text());
  const uint64_t handle = extractor.CreateExtractor();
  const auto engine = platform::Env::Default().LoadModule(library.EnginePath());
  ASSERT_NE(engine, nullptr);

  size_t truth = 0, found = 0, matched = 0;
  for (int i = 0; i < kFingers; ++i) {
    const auto imp = testing::TestFinger(i);
    const auto record = extractor.Extract(handle, imp.pixels, imp.width, imp.height, 2, 1);
    ASSERT_TRUE(record.has_value());
    // The binding changes nothing of what the engine finds.
    EXPECT_EQ(*record, DirectRecord(*engine, imp, 2, 1));
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
