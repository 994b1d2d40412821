// Every library stand-in refuses a configuration with a misspelt key: the
// process ends naming the file, the line and the key, where before the key
// was dropped and the test ran without the fault it meant to inject.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "platform/env.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::sim::config {
namespace {

// Each export is called through its own type (the sanitizers stop a call
// through another); a pointer argument gets null, refused after the
// configuration is read.
void CallText(void* symbol) { reinterpret_cast<const char* (*)()>(symbol)(); }
void CallNumber(void* symbol) { reinterpret_cast<int32_t (*)()>(symbol)(); }
void CallWithHandle(void* symbol) { reinterpret_cast<uint32_t (*)(uintptr_t*)>(symbol)(nullptr); }

struct Case {
  const char* name;
  const char* file;      // the stand-in's file
  const char* variable;  // what names its configuration
  bool folder;           // the variable names the folder, not the file
  const char* config_name;
  const char* text;
  const char* call;              // an export that reads the configuration
  void (*invoke)(void* symbol);  // calls it through its own type
  const char* message;
};

const Case kCases[] = {
    {"test plug-in", DACTYRA_VXR_TEST, "VXR_TEST_DIR", true, "vxr_test.conf",
     "prefix=T\nimagse=3\n", "VXR_GetPrefix", CallText, "vxr_test.conf:2: unknown key 'imagse'"},
    {"test plug-in value", DACTYRA_VXR_TEST, "VXR_TEST_DIR", true, "vxr_test.conf", "images=3x\n",
     "VXR_GetPrefix", CallText, "vxr_test.conf:1: images: '3x' is not a number"},
    // Another copy's section is checked too.
    {"FPSmm", DACTYRA_FPSMM_SIM, "FPSMM_SIM_CONFIG", false, "fpsmm.conf",
     "id=A\n[FPSmmOther]\nstop_stauts=-1\n", "_Init", CallNumber,
     "fpsmm.conf:3: unknown key 'stop_stauts'"},
    {"DPFPApi", DACTYRA_DPFPAPI, "DACTYRA_DP_SIM", false, "dp.conf", "[dpfpfns]\ninit = fial\n",
     "DPFPInit", CallNumber, "dp.conf:2: init: 'fial' is not a choice"},
    {"UCBioBSP", DACTYRA_UCBIOBSP, "DACTYRA_UCBIOBSP_CONFIG", false, "ucbiobsp.conf",
     "reader=1 8x8 captrue=fail name=A\n", "UCBioAPI_Init", CallWithHandle,
     "unknown key 'captrue'"},
};

void LoadAndCall(const Case& c) {
  platform::Text error;
  // Kept loaded: the process ends in the call.
  auto* module = platform::Env::Default()
                     .LoadModule(platform::FromUtf8(c.file), platform::Module::Search::kDefault,
                                 &error)
                     .release();
  if (!module) {
    fprintf(stderr, "not loaded: %s\n", platform::ToUtf8(error).c_str());
    return;
  }
  void* symbol = module->Symbol(c.call);
  if (!symbol) {
    fprintf(stderr, "no %s\n", c.call);
    return;
  }
  c.invoke(symbol);
  fprintf(stderr, "%s returned\n", c.call);
}

TEST(StandInConfiguration, AMisspeltKeyEndsTheRunWithItsPlace) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const Case& c : kCases) {
    platform::testing::TempFolder folder("dactyra-standin");
    const std::string file = folder.path() + "/" + c.config_name;
    std::ofstream(file) << c.text;
    ASSERT_EQ(setenv(c.variable, c.folder ? folder.path().c_str() : file.c_str(), 1), 0);
    EXPECT_DEATH(LoadAndCall(c), c.message) << c.name;
    unsetenv(c.variable);
  }
}

}  // namespace
}  // namespace dactyra::sim::config
