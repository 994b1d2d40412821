/* The plug-in header compiled as C, on its own: the layout a C plug-in sees. */
#include "capture/tests/vxr_plugin_header_c.h"

#include "plugins/interface/vxr_plugin.h"

/* A C plug-in's exports have exactly the header's function types. */
static TVxrBool VXR_STDCALL c_get_image(TVxrCaptureHandle handle, PVxrImage image) {
  (void)handle;
  image->Size.Width = 1;
  return VXR_TRUE;
}

void vxr_header_layout_from_c(struct VxrHeaderLayout* layout) {
  TFuncVXR_GetImage get_image = c_get_image;
  TVxrImage image;
  layout->device_list_size = sizeof(TVxrDeviceList);
  layout->serial_numbers_offset = offsetof(TVxrDeviceList, SerialNumbers);
  layout->image_size_size = sizeof(TVxrImageSize);
  layout->image_size = sizeof(TVxrImage);
  layout->resolution_offset = offsetof(TVxrImage, Resolution);
  layout->text_offset_of_two = VXR_DEVICE_LIST_TEXT_OFFSET(2);
  layout->get_image_bytes = VXR_ARGS_GetImage;
  layout->get_image_answer = get_image(NULL, &image);
}
