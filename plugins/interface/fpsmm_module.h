/*
 * The FPSmm module interface, as dactyra uses it.
 *
 * An FPSmm module is a shared library named FPSmm<name>.dll (FPSmm<name>.so
 * on Linux) from outside the system. dactyra loads every such file beside
 * the host program or beside itself (except FPSmmCyte, FPSmmLumidigm and
 * FPSmmUareU), binds four exports by exactly these names and drives the
 * scanner objects the module hands out through their function tables. This
 * header declares what crosses between them, once, for both sides; it
 * includes only <stddef.h> and <stdint.h> and compiles as C and as C++.
 *
 * Exports (FPSMM_STDCALL, plain names only, each returning a status where
 * a negative value means failure):
 *
 *   _Init()                 called once right after loading; a negative
 *                           status refuses the module, which is unloaded.
 *   _GetDeviceCount(count)  stores the number of devices in *count.
 *   _EnumDeviceIDs(capacity, ids, filled)
 *                           stores up to `capacity` pointers to UTF-16,
 *                           NUL-terminated device identifiers in ids[] and
 *                           their number in *filled. dactyra copies the
 *                           texts before its next call into the module. An
 *                           identifier is opened by dactyra only when it
 *                           begins with the module's name and a backslash
 *                           (any letter case).
 *   _CreateScannerImpl(impl) stores a new scanner object in *impl. dactyra
 *                           never frees it.
 *
 * Scanner object methods (FPSMM_THISCALL: the object travels in ECX on
 * 32-bit x86, as the first argument elsewhere). dactyra calls only
 * SetSomething(1), InitScanner(identifier) (when SetSomething answered 0),
 * SetCallbacks(context, image, notice, notice), StartCapture and
 * StopCapture. After StartCapture the module calls the image callback, on a
 * thread of its own, with the context it was given; once StopCapture has
 * returned no further callback may arrive.
 */
#ifndef DACTYRA_FPSMM_MODULE_H
#define DACTYRA_FPSMM_MODULE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The conventions: stdcall for exports and callbacks and thiscall for the
 * scanner object's methods on 32-bit x86; the one convention elsewhere. */
#if defined(__i386__) || defined(_M_IX86)
#if defined(__GNUC__) || defined(__clang__)
#define FPSMM_STDCALL __attribute__((stdcall))
#define FPSMM_THISCALL __attribute__((thiscall))
#else
#error "declare FPSMM_STDCALL and FPSMM_THISCALL for this compiler"
#endif
#else
#define FPSMM_STDCALL
#define FPSMM_THISCALL
#endif

/* One UTF-16 code unit. */
#ifdef __cplusplus
typedef char16_t TFPSmmChar;
#else
typedef uint16_t TFPSmmChar;
#endif

typedef struct TFPSmmScannerImpl TFPSmmScannerImpl, *PFPSmmScannerImpl;

/* The image callback: width x height 8-bit gray pixels, rows from the top,
 * no padding. */
typedef void(FPSMM_STDCALL* TFPSmmImageCallback)(void* context, int32_t width, int32_t height,
                                                 const uint8_t* pixels);
/* The two further callbacks; dactyra's do nothing. */
typedef void(FPSMM_STDCALL* TFPSmmNoticeCallback)(int32_t a, int32_t b);

/* Entries dactyra never calls; their signatures are the module's own. */
typedef void(FPSMM_THISCALL* TFPSmmUnusedMethod)(PFPSmmScannerImpl self);
typedef int32_t(FPSMM_THISCALL* TFPSmmMethod)(PFPSmmScannerImpl self);
typedef int32_t(FPSMM_THISCALL* TFPSmmInitScanner)(PFPSmmScannerImpl self,
                                                   const TFPSmmChar* identifier);
typedef int32_t(FPSMM_THISCALL* TFPSmmSetCallbacks)(PFPSmmScannerImpl self, void* context,
                                                    TFPSmmImageCallback image,
                                                    TFPSmmNoticeCallback notice1,
                                                    TFPSmmNoticeCallback notice2);
typedef int32_t(FPSMM_THISCALL* TFPSmmSetSomething)(PFPSmmScannerImpl self, int32_t value);

/* The scanner object's function table: twelve entries in this order. */
typedef struct TFPSmmScannerVMT {
  TFPSmmUnusedMethod Destroy;
  TFPSmmUnusedMethod func0x04;
  TFPSmmUnusedMethod func0x08;
  TFPSmmMethod StartCapture;
  TFPSmmMethod StopCapture;
  TFPSmmUnusedMethod func0x14;
  TFPSmmUnusedMethod func0x18;
  TFPSmmUnusedMethod func0x1c;
  TFPSmmUnusedMethod func0x20;
  TFPSmmInitScanner InitScanner;
  TFPSmmSetCallbacks SetCallbacks;
  TFPSmmSetSomething SetSomething;
} TFPSmmScannerVMT;

/* The scanner object as dactyra reads it; a module's own object may go on
 * past these fields. */
struct TFPSmmScannerImpl {
  const TFPSmmScannerVMT* pVMT;
  uint32_t something;
  uint32_t maxWidth;
  uint32_t maxHeight;
};

typedef int32_t(FPSMM_STDCALL* TFuncFPSmm_Init)(void);
typedef int32_t(FPSMM_STDCALL* TFuncFPSmm_GetDeviceCount)(int32_t* count);
typedef int32_t(FPSMM_STDCALL* TFuncFPSmm_EnumDeviceIDs)(int32_t capacity, const TFPSmmChar** ids,
                                                         int32_t* filled);
typedef int32_t(FPSMM_STDCALL* TFuncFPSmm_CreateScannerImpl)(PFPSmmScannerImpl* impl);

#ifdef __cplusplus
#define FPSMM_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define FPSMM_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

/* Layouts every build agrees on. */
FPSMM_STATIC_ASSERT(sizeof(TFPSmmChar) == 2, "UTF-16 code units");
FPSMM_STATIC_ASSERT(sizeof(TFPSmmScannerVMT) == 12 * sizeof(void*), "twelve entries");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerVMT, StartCapture) == 3 * sizeof(void*),
                    "StartCapture is entry 3");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerVMT, InitScanner) == 9 * sizeof(void*),
                    "InitScanner is entry 9");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerVMT, SetSomething) == 11 * sizeof(void*),
                    "SetSomething is the last entry");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerImpl, something) == sizeof(void*),
                    "the fields follow the table pointer");

#if defined(__i386__) || defined(_M_IX86)
/* The 32-bit ABI exactly. */
FPSMM_STATIC_ASSERT(sizeof(void*) == 4, "32-bit pointers");
FPSMM_STATIC_ASSERT(sizeof(TFPSmmScannerVMT) == 48, "the table is 48 bytes");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerVMT, StartCapture) == 0x0c, "StartCapture at 0x0c");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerVMT, StopCapture) == 0x10, "StopCapture at 0x10");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerVMT, func0x20) == 0x20, "func0x20 at 0x20");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerVMT, InitScanner) == 0x24, "InitScanner at 0x24");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerVMT, SetCallbacks) == 0x28, "SetCallbacks at 0x28");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerVMT, SetSomething) == 0x2c, "SetSomething at 0x2c");
FPSMM_STATIC_ASSERT(sizeof(TFPSmmScannerImpl) == 16, "the scanner object's fields are 16 bytes");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerImpl, something) == 4, "something at 4");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerImpl, maxWidth) == 8, "maxWidth at 8");
FPSMM_STATIC_ASSERT(offsetof(TFPSmmScannerImpl, maxHeight) == 12, "maxHeight at 12");
#endif

#ifdef __cplusplus
}
#endif

#endif /* DACTYRA_FPSMM_MODULE_H */
