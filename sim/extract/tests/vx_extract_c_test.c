/* Loads VxExtract.so by file name, binds its two exports by name and drives
 * them as the library's extractor binding does: defaults, extract, size
 * call, write call, release. Exits non-zero on the first fault.
 *
 *   vx_extract_c_test <path of VxExtract.so> [calls [WxH]]
 *
 * With `calls` the whole round is repeated that many times (under the
 * address and leak sanitizers: nothing may be kept between calls), on an
 * image of the given size (320x365 by default; the pattern scales with it). */
#ifdef _WIN32
#include <windows.h>
#define dlopen(file, flags) ((void*)LoadLibraryA(file))
#define dlsym(module, name) ((void*)GetProcAddress((HMODULE)(module), name))
#define dlclose(module) (FreeLibrary((HMODULE)(module)) ? 0 : -1)
#else
#include <dlfcn.h>
#endif
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sim/extract/vx_extract.h"

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      return 1;                                                                \
    }                                                                          \
  } while (0)

typedef void(VX_STDCALL* ReleaseFn)(void*);
typedef int32_t(VX_STDCALL* ExportFn)(void*, void*, int32_t, int32_t, int32_t, int32_t, int32_t,
                                      int32_t, int32_t, int32_t);

static int Round(VxExtractMinutiaeFn extract, const unsigned char* config,
                 const unsigned char* pixels, int w, int h);

int main(int argc, char** argv) {
  CHECK(argc >= 2 && argc <= 4);
  const int calls = argc >= 3 ? atoi(argv[2]) : 1;
  int w = 320, h = 365;
  if (argc == 4) CHECK(sscanf(argv[3], "%dx%d", &w, &h) == 2 && w >= 96 && h >= 96);
  CHECK(calls >= 1);
  void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  CHECK(module != NULL);
  VxGetDefaultConfigFn get_defaults = (VxGetDefaultConfigFn)dlsym(module, "GetDefaultConfig");
  VxExtractMinutiaeFn extract = (VxExtractMinutiaeFn)dlsym(module, "ExtractMinutiae");
  CHECK(get_defaults && extract);

  /* The binding allocates 40 bytes and never looks inside. */
  unsigned char* config = (unsigned char*)calloc(1, 40);
  get_defaults((TVxExtractorConfiguration*)config);
  CHECK(((TVxExtractorConfiguration*)config)->FatorGabor > 0);

  /* Curved ridges, period 9, whose phase winds round four points: each
   * point is a ridge ending or a bifurcation. */
  const double points[4][3] = {{100, 120, 1}, {210, 140, -1}, {120, 250, -1}, {220, 260, 1}};
  unsigned char* pixels = (unsigned char*)malloc((size_t)w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double r = sqrt((x - w / 2.0) * (x - w / 2.0) + (y - h * 1.15) * (y - h * 1.15));
      double phase = 2 * 3.14159265358979 * r / 9.0;
      for (int k = 0; k < 4; ++k)
        phase += points[k][2] * atan2(y - points[k][1] * h / 365, x - points[k][0] * w / 320);
      pixels[(size_t)y * w + x] = (unsigned char)(128 - 90 * cos(phase));
    }
  for (int i = 0; i < calls; ++i)
    if (Round(extract, config, pixels, w, h) != 0) return 1;

  /* Unusable arguments give no template. */
  CHECK(extract(NULL, w, h, (TVxExtractorConfiguration*)config, 0, NULL) == NULL);
  CHECK(extract(pixels, 0, h, (TVxExtractorConfiguration*)config, 0, NULL) == NULL);
  CHECK(extract(pixels, w, -5, (TVxExtractorConfiguration*)config, 0, NULL) == NULL);
  CHECK(extract(pixels, w, h, NULL, 0, NULL) == NULL);

  free(pixels);
  free(config);
  CHECK(dlclose(module) == 0);
  puts("ok");
  return 0;
}

static int Round(VxExtractMinutiaeFn extract, const unsigned char* config,
                 const unsigned char* pixels, int w, int h) {
  unsigned char* binary = (unsigned char*)malloc((size_t)w * h + 16);
  memset(binary + (size_t)w * h, 0xA5, 16);

  void* tmpl = extract(pixels, w, h, (TVxExtractorConfiguration*)config, 0, binary);
  CHECK(tmpl != NULL);
  for (int i = 0; i < 16; ++i) CHECK(binary[(size_t)w * h + i] == 0xA5);
  size_t ridge = 0;
  for (size_t i = 0; i < (size_t)w * h; ++i) {
    CHECK(binary[i] == 0 || binary[i] == 255);
    ridge += binary[i] == 255;
  }
  CHECK(ridge > (size_t)w * h / 5);

  void** table = *(void***)tmpl;
  ExportFn export_record = (ExportFn)table[3];
  ReleaseFn release = (ReleaseFn)table[0];
  const int32_t size = export_record(tmpl, NULL, w, h, 500, 500, 3, 1, 1, 1);
  CHECK(size >= 35);
  unsigned char* record = (unsigned char*)malloc((size_t)size + 8);
  memset(record, 0xEE, (size_t)size + 8);
  CHECK(export_record(tmpl, record, w, h, 500, 500, 3, 1, 1, 1) == size);
  for (int i = 0; i < 8; ++i) CHECK(record[size + i] == 0xEE);

  /* The blocks as the record reader walks them. */
  CHECK(record[22] == 7);
  const int c = record[24], s = record[25];
  CHECK(s == 7);
  CHECK(c >= 2);
  int p = 26 + c * s;
  const int m = (int16_t)(record[p + 1] | record[p + 2] << 8);
  CHECK(m == 0);
  p = 29 + c * s + m;
  CHECK(p + 1 < size && record[p + 1] == 4);
  int q = p + 2 + record[p] * record[p + 1];
  CHECK(q + 1 < size && record[q + 1] == 7);
  int r = q + 2 + record[q] * record[q + 1];
  CHECK(r + 1 < size && record[r] == 0);
  CHECK(r + 2 == size);
  for (int i = 0; i < c; ++i) {
    const unsigned char* b = record + 26 + i * s;
    const uint32_t word = b[0] | b[1] << 8 | b[2] << 16 | (uint32_t)b[3] << 24;
    CHECK((int)(word >> 21) < w && (int)((word >> 10) & 0x7FF) < h);
    CHECK(((word >> 8) & 3) == 1 || ((word >> 8) & 3) == 2);
    CHECK(b[4] >= 1 && b[4] <= 100);
  }
  /* The header carries the arguments of the call. */
  CHECK((record[0] | record[1] << 8) == size && record[12] == 3 && record[13] == 1);
  release(tmpl);
  free(record);
  free(binary);
  return 0;
}
