// The peer detector through libfprint: an FpImage filled with the pixels,
// fp_image_detect_minutiae with its _finish, and the minutiae's coordinates.
#include "sim/extract/bench/nbis_detector.h"

#include <fprint.h>

#include <cstring>

namespace dactyra::sim::extract {
namespace {

struct Wait {
  GAsyncResult* result = nullptr;
};

void Done(GObject*, GAsyncResult* result, gpointer data) {
  static_cast<Wait*>(data)->result = G_ASYNC_RESULT(g_object_ref(result));
}

}  // namespace

bool NbisDetector::Detect(const uint8_t* pixels, int width, int height,
                          std::vector<PeerMinutia>* out, std::string* error) {
  out->clear();
  FpImage* image = fp_image_new(width, height);
  gsize size = 0;
  // fp_image_new allocates the width × height bytes that fp_image_get_data
  // hands out; the public API has no other way to fill them.
  auto* data = const_cast<guchar*>(fp_image_get_data(image, &size));
  if (size != static_cast<gsize>(width) * height) {
    g_object_unref(image);
    *error = "libfprint's image is not width x height bytes";
    return false;
  }
  std::memcpy(data, pixels, size);
  Wait wait;
  fp_image_detect_minutiae(image, nullptr, Done, &wait);
  GMainContext* context = g_main_context_get_thread_default();
  while (!wait.result) g_main_context_iteration(context, TRUE);
  GError* failure = nullptr;
  const bool ok = fp_image_detect_minutiae_finish(image, wait.result, &failure);
  g_object_unref(wait.result);
  if (!ok) {
    *error = failure ? failure->message : "detection failed";
    g_clear_error(&failure);
    g_object_unref(image);
    return false;
  }
  GPtrArray* minutiae = fp_image_get_minutiae(image);
  for (guint i = 0; minutiae && i < minutiae->len; ++i) {
    gint x = 0, y = 0;
    fp_minutia_get_coords(static_cast<FpMinutia*>(g_ptr_array_index(minutiae, i)), &x, &y);
    out->push_back({x + 0.5, y + 0.5});
  }
  g_object_unref(image);
  return true;
}

}  // namespace dactyra::sim::extract
