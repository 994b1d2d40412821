// The plug-in header gives C and C++ the same layout, the one of the
// interface on this build.
#include <gtest/gtest.h>

#include <cstddef>

#include "capture/tests/vxr_plugin_header_c.h"
#include "plugins/interface/vxr_plugin.h"

namespace {

TEST(VxrPluginHeader, CAndCxxAgreeOnTheLayout) {
  VxrHeaderLayout c{};
  vxr_header_layout_from_c(&c);
  EXPECT_EQ(c.device_list_size, sizeof(TVxrDeviceList));
  EXPECT_EQ(c.serial_numbers_offset, offsetof(TVxrDeviceList, SerialNumbers));
  EXPECT_EQ(c.image_size_size, sizeof(TVxrImageSize));
  EXPECT_EQ(c.image_size, sizeof(TVxrImage));
  EXPECT_EQ(c.resolution_offset, offsetof(TVxrImage, Resolution));
  EXPECT_EQ(c.text_offset_of_two, VXR_DEVICE_LIST_TEXT_OFFSET(2));
  EXPECT_EQ(c.get_image_bytes, VXR_ARGS_GetImage);
  EXPECT_EQ(c.get_image_answer, 1u);
}

TEST(VxrPluginHeader, PointersPackFromOffsetFour) {
  // The block keeps its 32-bit count at 0 and the pointers right after it.
  EXPECT_EQ(offsetof(TVxrDeviceList, SerialNumbers), 4u);
  EXPECT_EQ(VXR_DEVICE_LIST_TEXT_OFFSET(3), 4 + 3 * sizeof(char*));
  EXPECT_EQ(VXR_DEVICE_LIST_ENTRY_SIZE(8), sizeof(char*) + 9);
  EXPECT_EQ(sizeof(TVxrImage), 20u);
}

}  // namespace
