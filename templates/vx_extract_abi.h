/*
 * The binary contract between dactyra and the extraction engine
 * VxExtract.dll (VxExtract.so on Linux): the two exports, the configuration
 * record and the template object's table of operations. Compiles as C and
 * as C++; includes only <stdint.h>.
 *
 * Exports, both with VX_EXTRACT_CALL:
 *
 *   GetDefaultConfig(config)
 *       fills the VX_EXTRACT_CONFIG_SIZE bytes at `config` with the
 *       engine's defaults.
 *   ExtractMinutiae(pixels, width, height, config, skeleton, binary)
 *       `pixels`: width × height gray levels, row 0 first, no padding;
 *       `config`: a record GetDefaultConfig filled, which dactyra never
 *       reads or changes; `skeleton`: 0 false, -1 true (dactyra passes 0);
 *       `binary`: a work buffer of width × height bytes for the engine's
 *       binary image. Returns a template object, or null when the engine
 *       found none.
 *
 * A template object is an address whose first word points to its table of
 * operations; each operation takes the object as its first argument:
 *   [0] release the object;
 *   [3] export the template record (see TVxExportRecordProc); with a null
 *       buffer only the size is returned.
 */
#ifndef DACTYRA_TEMPLATES_VX_EXTRACT_ABI_H_
#define DACTYRA_TEMPLATES_VX_EXTRACT_ABI_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The engine's calling convention: stdcall on 32-bit x86 (arguments pushed
 * last to first, the callee removes them), the one convention elsewhere. */
#if defined(__i386__) || defined(_M_IX86)
#if defined(_MSC_VER)
#define VX_EXTRACT_CALL __stdcall
#else
#define VX_EXTRACT_CALL __attribute__((stdcall))
#endif
#else
#define VX_EXTRACT_CALL
#endif

/* The configuration record: 40 bytes whose fields only the engine knows
 * (thresholds, a Gabor factor and step switches); 8-byte aligned, since it
 * holds a 64-bit float at offset 16. dactyra keeps it as bytes; the engine
 * defines the structure. */
#define VX_EXTRACT_CONFIG_SIZE 40
#define VX_EXTRACT_CONFIG_ALIGN 8
typedef struct TVxExtractorConfiguration TVxExtractorConfiguration;

/* A template object of the engine; its first word is its table of
 * operations. The engine defines the structure. */
typedef struct VxTemplate VxTemplate;

/* Export names. */
#define VX_EXTRACT_GET_DEFAULT_CONFIG "GetDefaultConfig"
#define VX_EXTRACT_EXTRACT_MINUTIAE "ExtractMinutiae"

typedef void(VX_EXTRACT_CALL* TVxGetDefaultConfigProc)(TVxExtractorConfiguration* config);
typedef VxTemplate*(VX_EXTRACT_CALL* TVxExtractMinutiaeProc)(
    const uint8_t* pixels, int32_t width, int32_t height, const TVxExtractorConfiguration* config,
    int32_t skeleton, uint8_t* binary);

/* Template object operations. */
#define VX_TEMPLATE_OP_RELEASE 0
#define VX_TEMPLATE_OP_EXPORT_RECORD 3

typedef void(VX_EXTRACT_CALL* TVxReleaseTemplateProc)(VxTemplate* self);
/* Returns the size in bytes of the template record; writes it into
 * `buffer` when that is not null. The save flags are 0 or 1. */
typedef int32_t(VX_EXTRACT_CALL* TVxExportRecordProc)(VxTemplate* self, void* buffer, int32_t width,
                                                      int32_t height, int32_t horz_resolution,
                                                      int32_t vert_resolution, int32_t position,
                                                      int32_t impression_type,
                                                      int32_t save_curvature, int32_t save_g);

#ifdef __cplusplus
}
#endif

#endif /* DACTYRA_TEMPLATES_VX_EXTRACT_ABI_H_ */
