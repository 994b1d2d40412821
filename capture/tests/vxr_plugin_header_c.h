/* What the C compilation of the plug-in header reports about its layout. */
#ifndef DACTYRA_CAPTURE_TESTS_VXR_PLUGIN_HEADER_C_H_
#define DACTYRA_CAPTURE_TESTS_VXR_PLUGIN_HEADER_C_H_

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct VxrHeaderLayout {
  size_t device_list_size;
  size_t serial_numbers_offset;
  size_t image_size_size;
  size_t image_size;
  size_t resolution_offset;
  size_t text_offset_of_two;
  unsigned get_image_bytes;
  unsigned get_image_answer;
};

void vxr_header_layout_from_c(struct VxrHeaderLayout* layout);

#ifdef __cplusplus
}
#endif

#endif
