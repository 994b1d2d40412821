/*
 * The open extraction engine VxExtract: the records and exports that the
 * library's extractor binding calls. This header compiles as C and as C++
 * and is all a caller needs.
 *
 * Exports (C linkage, VX_STDCALL):
 *
 *   GetDefaultConfig(config)
 *       fills the 40-byte configuration record with the values that measure
 *       best on the synthetic fingers (see the fields below).
 *
 *   ExtractMinutiae(pixels, width, height, config, skeleton, binary)
 *       finds the minutiae, cores and deltas of an 8-bit gray image
 *       (width x height bytes, rows from the top, no padding, ridges dark)
 *       and returns a new template object, or NULL when the arguments are
 *       unusable: a null pixel or configuration address, a width or height
 *       below VX_MIN_SIDE or above VX_MAX_SIDE. A blank, saturated or
 *       featureless image is not an error: it gives a template with no
 *       minutiae. Configuration values outside their ranges are brought
 *       into them (NaN and infinities take the default). When `binary` is
 *       not NULL the engine writes width x height bytes there: 255 on the
 *       binarised ridges inside the finger, 0 elsewhere; with `skeleton`
 *       non-zero it writes the thinned ridges instead. Nothing is kept
 *       between calls; calls on different threads do not interfere.
 *
 * The template object's first word points to its table of operations; each
 * takes the object first:
 *   0 Release()      frees the object.
 *   1 MinutiaCount() the number of minutiae found.
 *   2 SingularCount() cores plus deltas found.
 *   3 ExportRecord(buffer, width, height, horzResolution, vertResolution,
 *                  position, impressionType, saveCurvature, saveG)
 *       returns the size in bytes of the template record and, when buffer
 *       is not NULL, writes the record there (the caller gives at least
 *       that size). The record:
 *         0   uint32 record size; 4 uint16 width; 6 uint16 height;
 *         8   uint16 horizontal and 10 vertical resolution; 12 position
 *             and 13 impression type (low bytes); 14 version (1); 15..21 0
 *         22  flags: bit 0 quality byte (always), bit 1 curvature byte
 *             (saveCurvature), bit 2 G byte (saveG)
 *         23  0; 24 minutia count c (at most 255); 25 minutia size s
 *         26  c minutiae: uint32 w = X<<21 | Y<<10 | type<<8 | angle, then
 *             quality (1..100), curvature (0..254: the turn of the ridge
 *             flow round the minutia, 254 for a half turn), G (0..254: the
 *             local ridge contrast) as the flags say. type 1 ridge ending,
 *             2 bifurcation; angle in 256ths of a turn counter-clockwise
 *             from the +x axis on screen: for an ending the way its ridge
 *             runs, for a bifurcation the way the valley between its
 *             branches runs.
 *         26+c*s 0; then int16 0 (no extra block)
 *         cores: count, size 4, each w with X, Y and the angle pointing
 *             into the loop's opening
 *         deltas: count, size 7, each w with X, Y, then three angle bytes:
 *             the ways the three ridge flows leave the delta
 *         double cores: count 0, size 4
 *       Minutiae beyond X or Y 2047 cannot be written and are left out.
 */
#ifndef DACTYRA_SIM_EXTRACT_VX_EXTRACT_H_
#define DACTYRA_SIM_EXTRACT_VX_EXTRACT_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__i386__) || defined(_M_IX86)
#if defined(_MSC_VER)
#define VX_STDCALL __stdcall
#else
#define VX_STDCALL __attribute__((stdcall))
#endif
#else
#define VX_STDCALL
#endif

#if defined(_WIN32)
#define VX_EXPORT_ATTRIBUTE __declspec(dllexport)
#else
#define VX_EXPORT_ATTRIBUTE __attribute__((visibility("default")))
#endif
#ifdef __cplusplus
#define VX_EXPORT extern "C" VX_EXPORT_ATTRIBUTE
#else
#define VX_EXPORT VX_EXPORT_ATTRIBUTE
#endif

typedef uint8_t TVxBool;

/* The engine's configuration, 40 bytes; the padding is spelled out so that
 * the offsets are the same under every ABI. Ranges in brackets. */
typedef struct TVxExtractorConfiguration {
  /* Gray variance (of the lightly smoothed image, over a 16-pixel window)
   * below which a block is background [0, 20000]; default 300. */
  int32_t LimiarVariancia;
  /* Mean gray level the finger area is normalised to [0, 255]; 128. */
  int32_t MediaDesejada;
  /* Gray variance it is normalised to [100, 16000]; 2500. */
  int32_t VarianciaDesejada;
  uint8_t Reserved0[4];
  /* Width (sigma) of the Gabor filter's Gaussian across the ridges, in
   * local ridge periods [0.15, 1.5]; 0.42. Along the ridges the smoothing
   * Gaussian is 1.5 times as wide. */
  double FatorGabor;
  /* Step 1, the field that steers the enhancement: smooth it (Gaussian,
   * sigma 6 pixels; default on), and replace directions whose coherence
   * stays below 0.2 by those of a wide neighbourhood (default on). */
  TVxBool PassoRemoverDirecoes1;
  TVxBool PassoSuavizar1;
  /* Step 2, the field for cores, deltas, minutia directions and quality:
   * the same with sigma 10 pixels (smoothing on, removal off). */
  TVxBool PassoRemoverDirecoes2;
  TVxBool PassoSuavizar2;
  /* Number of directions the enhancement quantises to: 8, 12, 16 or 24;
   * other values take 16 (the default). */
  int16_t TipoDirecoes;
  /* Keep minutiae of quality (flow coherence x 100) below 20 (default
   * off: they are dropped). */
  TVxBool PermitirQMenor;
  /* Skip the mean and variance normalisation (default off); poor-area
   * removal then does not apply. */
  TVxBool SemAjuste;
  /* Smooth by a plain 12-pixel box instead of the Gaussian (steps 1, 2;
   * default off). */
  TVxBool MediaDirecoesSimples1;
  TVxBool MediaDirecoesSimples2;
  /* Take the gradients on the image smoothed by a Gaussian of sigma 1
   * (default on). */
  TVxBool MediaGauss;
  /* Remove false minutiae (default on): spurs and dots (a short ridge
   * from an ending to a fork or an ending), bridges (two forks joined
   * across the flow within 1.35 ridge periods), broken ridges (two endings
   * facing each other along the flow within 1.35 periods), clusters (two
   * points within 0.6 period). Points within 1.5 periods of a core or
   * delta are never kept. */
  TVxBool EliminarMinucias;
  /* Keep no minutia or singular point within 12 pixels of the finger's
   * border (default on); 8 pixels from the image's edge always. */
  TVxBool TruncarArea;
  /* Drop minutiae in poor areas (default on): local contrast below half
   * the normalised deviation, or flow coherence below 0.25. */
  TVxBool ApagarAreaRuim;
  uint8_t Reserved1[2];
} TVxExtractorConfiguration;

#define VX_CONFIG_CHECK(cond, msg) typedef char vx_check_##msg[(cond) ? 1 : -1]
VX_CONFIG_CHECK(sizeof(TVxExtractorConfiguration) == 40, size);
VX_CONFIG_CHECK(offsetof(TVxExtractorConfiguration, MediaDesejada) == 4, media);
VX_CONFIG_CHECK(offsetof(TVxExtractorConfiguration, VarianciaDesejada) == 8, variancia);
VX_CONFIG_CHECK(offsetof(TVxExtractorConfiguration, FatorGabor) == 16, gabor);
VX_CONFIG_CHECK(offsetof(TVxExtractorConfiguration, PassoRemoverDirecoes1) == 24, remover1);
VX_CONFIG_CHECK(offsetof(TVxExtractorConfiguration, PassoSuavizar2) == 27, suavizar2);
VX_CONFIG_CHECK(offsetof(TVxExtractorConfiguration, TipoDirecoes) == 28, tipo);
VX_CONFIG_CHECK(offsetof(TVxExtractorConfiguration, PermitirQMenor) == 30, permitir);
VX_CONFIG_CHECK(offsetof(TVxExtractorConfiguration, ApagarAreaRuim) == 37, apagar);
#undef VX_CONFIG_CHECK

#define VX_MIN_SIDE 32
#define VX_MAX_SIDE 4096

typedef struct VxTemplate VxTemplate;

typedef struct VxTemplateOps {
  void(VX_STDCALL* Release)(VxTemplate* self);
  int32_t(VX_STDCALL* MinutiaCount)(VxTemplate* self);
  int32_t(VX_STDCALL* SingularCount)(VxTemplate* self);
  int32_t(VX_STDCALL* ExportRecord)(VxTemplate* self, void* buffer, int32_t width, int32_t height,
                                    int32_t horzResolution, int32_t vertResolution,
                                    int32_t position, int32_t impressionType, int32_t saveCurvature,
                                    int32_t saveG);
} VxTemplateOps;

/* The object as the caller sees it: the first word is the table. */
struct VxTemplate {
  const VxTemplateOps* Ops;
};

typedef void(VX_STDCALL* VxGetDefaultConfigFn)(TVxExtractorConfiguration* config);
typedef VxTemplate*(VX_STDCALL* VxExtractMinutiaeFn)(const uint8_t* pixels, int32_t width,
                                                     int32_t height,
                                                     const TVxExtractorConfiguration* config,
                                                     int32_t skeleton, uint8_t* binary);

VX_EXPORT void VX_STDCALL GetDefaultConfig(TVxExtractorConfiguration* config);
VX_EXPORT VxTemplate* VX_STDCALL ExtractMinutiae(const uint8_t* pixels, int32_t width,
                                                 int32_t height,
                                                 const TVxExtractorConfiguration* config,
                                                 int32_t skeleton, uint8_t* binary);

#ifdef __cplusplus
}
#endif

#endif /* DACTYRA_SIM_EXTRACT_VX_EXTRACT_H_ */
