// The engine binding over a recording engine: where the engine file is
// looked for, what a failed load reports, optional exports, the work buffer
// and the template object's operations.
#include "templates/vx_extract_dll.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "templates/tests/extract_test_env.h"

namespace dactyra::templates {
namespace {

using platform::Text;
using testing::ExtractEnv;
using testing::LibraryFolder;

TVxExtractorConfiguration* Record(unsigned char* bytes) {
  return reinterpret_cast<TVxExtractorConfiguration*>(bytes);
}

TEST(VxExtractDll, LooksByNameFirstThenInTheLibraryFolder) {
  struct Case {
    const char* name;
    bool by_name;
    bool in_folder;
    int loads;
  };
  for (const Case& c :
       {Case{"found by name", true, false, 1}, Case{"found in the folder", false, true, 2},
        Case{"by name wins over the folder", true, true, 1}}) {
    SCOPED_TRACE(c.name);
    LibraryFolder folder;
    LibraryFolder elsewhere;
    ExtractEnv env;
    if (c.in_folder) folder.PutEngine();
    if (c.by_name) {
      elsewhere.PutEngine();
      env.by_name_target = elsewhere.EnginePath();
    }
    auto dll = TVxExtractDll::Create(env, folder.text());
    ASSERT_NE(dll, nullptr);
    const std::vector<Text> loads = env.Loads();
    ASSERT_EQ(loads.size(), static_cast<size_t>(c.loads));
    EXPECT_EQ(loads[0], EngineFileName());
    if (c.loads == 2) {
      EXPECT_EQ(loads[1], folder.EnginePath());
    }
    EXPECT_TRUE(dll->HasDefaultConfig());
    EXPECT_TRUE(dll->HasExtractMinutiae());
  }
}

TEST(VxExtractDll, FailureReportsTheSystemErrorOfTheLastAttempt) {
  LibraryFolder folder;
  ExtractEnv env;
  try {
    TVxExtractDll::Create(env, folder.text());
    FAIL() << "the engine is nowhere";
  } catch (const EVxExtractLoad& e) {
    // The loader's message for the folder's path, not the by-name one.
    EXPECT_NE(e.message(), env.by_name_error);
    EXPECT_NE(e.message().find(platform::FullPath(folder.EnginePath())), Text::npos) << e.what();
  }
  EXPECT_EQ(env.Loads(), (std::vector<Text>{EngineFileName(), folder.EnginePath()}));

  // A file that is there but no module: still the folder attempt's message.
  platform::Env::Default().WriteFileBytes(folder.EnginePath(), "not a module");
  try {
    TVxExtractDll::Create(env, folder.text());
    FAIL() << "the engine file is no module";
  } catch (const EVxExtractLoad& e) {
    // Named as the system names the file.
    EXPECT_NE(e.message().find(platform::FullPath(folder.EnginePath())), Text::npos) << e.what();
  }
}

TEST(VxExtractDll, MissingExportsAreOptional) {
  LibraryFolder folder;
  folder.PutEngine(VX_RECORDER_BARE_PATH);
  ExtractEnv env;
  auto dll = TVxExtractDll::Create(env, folder.text());
  EXPECT_FALSE(dll->HasDefaultConfig());
  EXPECT_FALSE(dll->HasExtractMinutiae());
  unsigned char config[VX_EXTRACT_CONFIG_SIZE];
  std::memset(config, 0x5A, sizeof config);
  dll->PegParametrosDefault(Record(config));
  for (unsigned char b : config) ASSERT_EQ(b, 0x5A);
  const std::vector<uint8_t> pixels(100, 0);
  EXPECT_EQ(dll->ExtractMinutiae(pixels.data(), 10, 10, Record(config)), nullptr);
  EXPECT_EQ(dll->ImagemBinaria(), nullptr);
}

TEST(VxExtractDll, EveryImageGetsAWorkBufferOfItsOwnSize) {
  LibraryFolder folder;
  folder.PutEngine();
  ExtractEnv env;
  auto dll = TVxExtractDll::Create(env, folder.text());
  alignas(8) unsigned char config[VX_EXTRACT_CONFIG_SIZE];
  dll->PegParametrosDefault(Record(config));
  const auto engine = folder.Engine();
  ASSERT_NE(engine.state, nullptr);

  // Small, larger, larger still in one direction, smaller: the engine
  // writes width × height bytes each time (an overflow shows under ASan).
  for (auto [w, h] : {std::pair{20, 10}, {64, 48}, {64, 200}, {8, 8}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const std::vector<uint8_t> pixels(static_cast<size_t>(w * h), 10);
    auto found = dll->ExtractMinutiae(pixels.data(), w, h, Record(config));
    ASSERT_NE(found, nullptr);
    ASSERT_NE(dll->ImagemBinaria(), nullptr);
    EXPECT_EQ(dll->ImagemBinaria()->width(), w);
    EXPECT_EQ(dll->ImagemBinaria()->height(), h);
    EXPECT_EQ(engine.state->last_binary, dll->ImagemBinaria()->buffer());
    EXPECT_EQ(engine.state->last_pixels, pixels.data());
    EXPECT_EQ(engine.state->last_config, static_cast<void*>(config));
    EXPECT_EQ(engine.state->last_skeleton, 0);
    EXPECT_EQ(engine.state->last_width, w);
    EXPECT_EQ(engine.state->last_height, h);
  }
  EXPECT_THROW(dll->ExtractMinutiae(nullptr, 0, 5, Record(config)), Exception);
  EXPECT_EQ(engine.state->violations, 0) << engine.state->last_violation;
}

TEST(VxExtractDll, TemplateExportsWithItsArgumentsInOrderAndIsReleasedOnce) {
  LibraryFolder folder;
  folder.PutEngine();
  ExtractEnv env;
  auto dll = TVxExtractDll::Create(env, folder.text());
  alignas(8) unsigned char config[VX_EXTRACT_CONFIG_SIZE];
  dll->PegParametrosDefault(Record(config));
  const auto engine = folder.Engine();
  const std::vector<uint8_t> pixels(30 * 20, 7);
  {
    auto found = dll->ExtractMinutiae(pixels.data(), 30, 20, Record(config));
    ASSERT_NE(found, nullptr);
    const int32_t size = found->ExportRecord(nullptr, 11, 12, 13, 14, 15, 16, true, false);
    EXPECT_EQ(engine.state->last_export_buffer, nullptr);
    EXPECT_EQ(
        std::vector<int32_t>(engine.state->last_export_args, engine.state->last_export_args + 8),
        (std::vector<int32_t>{11, 12, 13, 14, 15, 16, 1, 0}));
    ASSERT_GT(size, 0);
    std::vector<uint8_t> record(static_cast<size_t>(size));
    EXPECT_EQ(found->ExportRecord(record.data(), 1, 2, 3, 4, 5, 6, false, true),
              size);  // same stride
    EXPECT_EQ(engine.state->last_export_buffer, record.data());
    EXPECT_EQ(engine.state->templates_released, 0);
  }
  EXPECT_EQ(engine.state->templates_made, 1);
  EXPECT_EQ(engine.state->templates_released, 1);
  EXPECT_EQ(engine.state->violations, 0) << engine.state->last_violation;
}

}  // namespace
}  // namespace dactyra::templates
