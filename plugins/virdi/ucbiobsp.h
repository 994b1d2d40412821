/*
 * The part of Virdi's UCBioBSP library that the vxr_virdi plug-in calls: the
 * seven functions and the records that cross between the two, declared once
 * for the plug-in and for the stand-in library under sim/virdi. Compiles as
 * C and as C++; includes only <stddef.h> and <stdint.h>.
 *
 * Only what the plug-in relies on is fixed here; every other field of these
 * records is reserved and left 0.
 *
 *   Results   every function returns 0 for success; any other value is a
 *             failure the plug-in does not look into.
 *   Handles   the SDK handle (from UCBioAPI_Init) and FIR handles are
 *             32-bit values on i686 and pointer-sized elsewhere.
 *   Lists     UCBioAPI_EnumerateDevice hands out a count, that many device
 *             IDs and that many UCBioAPI_DEVICE_INFO_EX records, in the same
 *             order. The lists belong to the library and stay valid until
 *             the next enumeration.
 *   Frames    during UCBioAPI_Capture the library may call the capture
 *             callback any number of times. A frame is present when
 *             FramePresent is non-zero and Frame is not null; it then holds
 *             exactly ImageWidth x ImageHeight bytes of 8-bit gray (rows
 *             from the top, no padding), the size UCBioAPI_GetDeviceInfo
 *             reported for the device. The plug-in cannot check that size:
 *             it copies that many bytes from Frame, so a library that shows
 *             a smaller frame makes it read past the frame.
 *
 * On i686 the records have exactly the offsets asserted at the end; on
 * 64-bit builds the fields that hold an address or a handle are
 * pointer-sized and the natural layout applies.
 */
#ifndef DACTYRA_PLUGINS_VIRDI_UCBIOBSP_H_
#define DACTYRA_PLUGINS_VIRDI_UCBIOBSP_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library's functions and its capture callback use the standard calling
 * convention of 32-bit Windows code; elsewhere there is only one. */
#if defined(__i386__) || defined(_M_IX86)
#if defined(_MSC_VER)
#define UCBIOAPI_CALL __stdcall
#else
#define UCBIOAPI_CALL __attribute__((stdcall))
#endif
#else
#define UCBIOAPI_CALL
#endif

typedef uint32_t UCBioAPI_RETURN;
#define UCBIOAPI_OK ((UCBioAPI_RETURN)0)

typedef uintptr_t UCBioAPI_HANDLE;
typedef uintptr_t UCBioAPI_FIR_HANDLE;
typedef uint16_t UCBioAPI_DEVICE_ID;

/* One entry of the enumerated information list: 496 bytes, the reader's
 * NUL-terminated ANSI name from byte 4. */
#define UCBIOAPI_DEVICE_NAME_SIZE 492
typedef struct UCBioAPI_DEVICE_INFO_EX {
  uint32_t Reserved;
  char Name[UCBIOAPI_DEVICE_NAME_SIZE];
} UCBioAPI_DEVICE_INFO_EX;

/* Device information of structure type 0. The caller zeroes StructureType
 * before the call; the library writes the image size. */
#define UCBIOAPI_DEVICE_INFO_TYPE_0 0
typedef struct UCBioAPI_DEVICE_INFO_0 {
  uint32_t StructureType;
  int32_t ImageWidth;
  int32_t ImageHeight;
  uint32_t Reserved[5];
} UCBioAPI_DEVICE_INFO_0;

/* What the capture callback receives about the current frame. */
typedef struct UCBioAPI_CALLBACK_DATA {
  uint32_t FramePresent;
  const uint8_t* Frame;
} UCBioAPI_CALLBACK_DATA;

/* Called during a capture; returns 0. */
typedef uint32_t(UCBIOAPI_CALL* UCBioAPI_CAPTURE_CALLBACK)(const UCBioAPI_CALLBACK_DATA* data,
                                                           void* user_data);

/* Capture options: 52 bytes on i686. Length holds sizeof the record; the
 * plug-in sets Mode to 1, Flags to 0 and every other field it does not
 * name to 0. */
typedef struct UCBioAPI_CAPTURE_OPTIONS {
  uint32_t Length;
  uint32_t Mode;
  uint32_t Reserved8[2];
  uint32_t Flags;
  UCBioAPI_CAPTURE_CALLBACK Callback;
  void* UserData;
  uint32_t Reserved28[6];
} UCBioAPI_CAPTURE_OPTIONS;

/* The purpose and the time-out the plug-in captures with. */
#define UCBIOAPI_PURPOSE_CAPTURE 6
#define UCBIOAPI_CAPTURE_TIMEOUT_MS 3000

UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_Init(UCBioAPI_HANDLE* handle);
UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_EnumerateDevice(UCBioAPI_HANDLE handle, uint32_t* count,
                                                       UCBioAPI_DEVICE_ID** ids,
                                                       UCBioAPI_DEVICE_INFO_EX** infos);
UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_OpenDevice(UCBioAPI_HANDLE handle, UCBioAPI_DEVICE_ID id);
UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_GetDeviceInfo(UCBioAPI_HANDLE handle, UCBioAPI_DEVICE_ID id,
                                                     uint32_t structure_type, void* info);
UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_CloseDevice(UCBioAPI_HANDLE handle, UCBioAPI_DEVICE_ID id);
UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_Capture(UCBioAPI_HANDLE handle, uint32_t purpose,
                                               UCBioAPI_FIR_HANDLE* fir, int32_t timeout_ms,
                                               const void* audit_data,
                                               const UCBioAPI_CAPTURE_OPTIONS* options);
UCBioAPI_RETURN UCBIOAPI_CALL UCBioAPI_FreeFIRHandle(UCBioAPI_FIR_HANDLE fir);

#ifdef __cplusplus
#define UCBIOAPI_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define UCBIOAPI_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

UCBIOAPI_STATIC_ASSERT(sizeof(UCBioAPI_DEVICE_INFO_EX) == 496, "information records are 496 bytes");
UCBIOAPI_STATIC_ASSERT(offsetof(UCBioAPI_DEVICE_INFO_EX, Name) == 4, "the name from byte 4");
UCBIOAPI_STATIC_ASSERT(offsetof(UCBioAPI_DEVICE_INFO_0, ImageWidth) == 4, "width at 4");
UCBIOAPI_STATIC_ASSERT(offsetof(UCBioAPI_DEVICE_INFO_0, ImageHeight) == 8, "height at 8");
UCBIOAPI_STATIC_ASSERT(offsetof(UCBioAPI_CAPTURE_OPTIONS, Mode) == 4, "mode at 4");
UCBIOAPI_STATIC_ASSERT(offsetof(UCBioAPI_CAPTURE_OPTIONS, Flags) == 16, "flags at 16");

#if defined(__i386__) || defined(_M_IX86)
/* The 32-bit ABI exactly. */
UCBIOAPI_STATIC_ASSERT(sizeof(UCBioAPI_HANDLE) == 4 && sizeof(UCBioAPI_FIR_HANDLE) == 4,
                       "32-bit handles");
UCBIOAPI_STATIC_ASSERT(sizeof(UCBioAPI_CAPTURE_OPTIONS) == 52, "capture options are 52 bytes");
UCBIOAPI_STATIC_ASSERT(offsetof(UCBioAPI_CAPTURE_OPTIONS, Callback) == 20, "callback at 20");
UCBIOAPI_STATIC_ASSERT(offsetof(UCBioAPI_CAPTURE_OPTIONS, UserData) == 24, "user value at 24");
UCBIOAPI_STATIC_ASSERT(offsetof(UCBioAPI_CALLBACK_DATA, Frame) == 4, "frame address at 4");
UCBIOAPI_STATIC_ASSERT(sizeof(UCBioAPI_CALLBACK_DATA) == 8, "callback data of two words");
#endif

#ifdef __cplusplus
}
#endif

#endif /* DACTYRA_PLUGINS_VIRDI_UCBIOBSP_H_ */
