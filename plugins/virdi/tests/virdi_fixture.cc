#include "plugins/virdi/tests/virdi_fixture.h"

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/virdi/ucbiobsp_sim.h"

namespace dactyra::virdi::testing {

void StandInTest::SetUp() {
  folder_ = std::make_unique<platform::testing::TempFolder>("dactyra-virdi");
  dir_ = folder_->path();
  ASSERT_EQ(setenv("DACTYRA_UCBIOBSP_CONFIG", (dir_ + "/UCBioBSP.conf").c_str(), 1), 0);
  Configure("");
}

void StandInTest::TearDown() {
  EXPECT_EQ(UCBioSim_Count("violations"), 0u) << sim::virdi::Violations();
  EXPECT_EQ(UCBioSim_Count("open devices"), 0u);
  EXPECT_EQ(UCBioSim_Count("FIR handles"), 0u);
  folder_.reset();
}

void StandInTest::Configure(const std::string& config) {
  const std::string file = dir_ + "/UCBioBSP.conf";
  {
    std::ofstream out(file + ".new", std::ios::trunc);
    out << config;
  }
  std::filesystem::rename(file + ".new", file);
  UCBioSim_Reset();
}

uint32_t StandInTest::Calls(const char* function) { return UCBioSim_Count(function); }

std::vector<std::string> Serials(const uint8_t* block, size_t size) {
  std::vector<std::string> serials;
  uint32_t n = 0;
  std::memcpy(&n, block, 4);
  for (uint32_t i = 0; i < n; ++i) {
    const char* text = nullptr;
    std::memcpy(&text, block + 4 + i * sizeof(char*), sizeof(char*));
    // Every pointer lies in the block's text area.
    EXPECT_GE(reinterpret_cast<const uint8_t*>(text), block + VXR_DEVICE_LIST_TEXT_OFFSET(n));
    EXPECT_LT(reinterpret_cast<const uint8_t*>(text), block + size);
    serials.emplace_back(text);
  }
  return serials;
}

int32_t ListSize(const std::vector<std::string>& names) {
  size_t size = VXR_DEVICE_LIST_EMPTY_SIZE;
  for (const std::string& name : names) size += VXR_DEVICE_LIST_ENTRY_SIZE(name.size());
  return static_cast<int32_t>(size);
}

std::vector<uint8_t> LastFrame(uint64_t seed, int width, int height, int frames) {
  return sim::virdi::FramePixels(seed, width, height, frames - 1);
}

}  // namespace dactyra::virdi::testing
