/*
 * The two DigitalPersona libraries as dactyra calls them: DPFPApi.dll and
 * dpFpFns.dll (DPFPApi.so and dpFpFns.so here). The records, handles and
 * function types every build of the binding and of the libraries' stand-ins
 * agrees on. Header only; includes <stddef.h> and <stdint.h>, compiles as C
 * and as C++.
 *
 * Handles: event handles (TFTDeviceEvents) and the window handle given to
 * DPFPCreateAcquisition have the forms of platform/foreign_handles.h.
 *
 * DPFPApi (standard calling convention; 0 is success)
 *   DPFPInit(), DPFPTerm()
 *   DPFPEnumerateDevices(&count, &guids or NULL): the count of readers and,
 *       when asked, a buffer of count GUIDs released with DPFPBufferFree.
 *   DPFPGetDeviceInfo(&guid, &info): a TDPFPDeviceInfo whose cbSize the
 *       caller has set.
 *   DPFPCreateAcquisition(priority, &guid, 4, window, 1288, &acquisition)
 *   DPFPStartAcquisition / DPFPStopAcquisition / DPFPDestroyAcquisition(a)
 *       While started, every image is posted to the window as message 1288
 *       with WParam 0 and LParam pointing at a TDPFPImageNotice. The notice
 *       and its image block stay valid until DPFPDestroyAcquisition.
 *   DPFPBufferFree(buffer)
 *
 * dpFpFns (cdecl: the caller removes the arguments)
 *   FT_init, FT_terminate: 0 is success.
 *   FT_getNumDevices(&count): 0.
 *   FT_getDeviceList(count, TFTDeviceInfo[count]): not negative.
 *   FT_getDeviceInfo(devId, &TFTDeviceDetails with cbSize set): not negative.
 *   FT_createContext(&context), FT_connectDevice(context, devId, 2),
 *   FT_startMonitoringDevice(context, &events), FT_setupUIlink(context,
 *       &link, user): 0. While monitored, the imageReady event is signalled
 *       once per image.
 *   FT_acquireImage(context, 2, bufferSize, buffer, &status, &quality):
 *       the latest image into the acquisition buffer (at most maxImgSize
 *       bytes of it are written).
 *   FT_getImagePixels(buffer, width x height, pixels): width x height gray
 *       bytes, rows from the top.
 *   FT_disconnectDevice(context), FT_closeContext(context).
 */
#ifndef DACTYRA_PLUGINS_INTERFACE_DIGITALPERSONA_H_
#define DACTYRA_PLUGINS_INTERFACE_DIGITALPERSONA_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calling conventions: the named one on 32-bit x86, the one convention
 * elsewhere. */
#if defined(__i386__) || defined(_M_IX86)
#if defined(_MSC_VER)
#define DP_STDCALL __stdcall
#define DP_CDECL __cdecl
#else
#define DP_STDCALL __attribute__((stdcall))
#define DP_CDECL __attribute__((cdecl))
#endif
#else
#define DP_STDCALL
#define DP_CDECL
#endif

#if defined(_WIN32)
#define DP_EXPORT_ATTRIBUTE __declspec(dllexport)
#else
#define DP_EXPORT_ATTRIBUTE __attribute__((visibility("default")))
#endif
#ifdef __cplusplus
#define DP_EXPORT extern "C" DP_EXPORT_ATTRIBUTE
#else
#define DP_EXPORT DP_EXPORT_ATTRIBUTE
#endif

/* An event handle or a window handle (platform/foreign_handles.h). */
typedef void* TDPHandle;

/* The image notification message and the window message values. */
#define DP_WM_IMAGE 1288u
#define DP_IMAGE_WPARAM 0u

typedef struct TDPGuid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} TDPGuid;

/* --- DPFPApi records --------------------------------------------------- */

/* The reader's description: the product name at byte 288 and the reader's
 * identifier at byte 544, both NUL-terminated UTF-16. */
typedef struct TDPFPDeviceInfo {
  uint32_t cbSize; /* sizeof(TDPFPDeviceInfo), set by the caller */
  uint8_t Reserved[284];
  uint16_t ProductName[128];
  uint16_t SerialNumber[64];
} TDPFPDeviceInfo;

/* What LParam of the image message points at: the image block is its
 * second word (pointer-sized on 64-bit builds). */
typedef struct TDPFPImageNotice {
  uint32_t Size;
  const void* ImageBlock;
} TDPFPImageNotice;

/* The fixed head of an image block; pixels begin at DataOffset from the
 * block's start, Width bytes per row, |Height| rows, top row first when
 * Height is positive, bottom row first when it is negative. */
typedef struct TDPFPImageBlockHead {
  uint8_t Reserved0[40];
  uint32_t DataOffset;
  uint8_t Reserved1[20];
  int32_t Width;
  int32_t Height;
} TDPFPImageBlockHead;

typedef void* TDPFPAcquisition;

typedef int32_t(DP_STDCALL* TDPFPInit)(void);
typedef int32_t(DP_STDCALL* TDPFPTerm)(void);
typedef int32_t(DP_STDCALL* TDPFPEnumerateDevices)(uint32_t* count, TDPGuid** guids);
typedef int32_t(DP_STDCALL* TDPFPGetDeviceInfo)(const TDPGuid* guid, TDPFPDeviceInfo* info);
typedef int32_t(DP_STDCALL* TDPFPCreateAcquisition)(int32_t priority, const TDPGuid* guid,
                                                     uint32_t kind, TDPHandle window,
                                                     uint32_t message,
                                                     TDPFPAcquisition* acquisition);
typedef int32_t(DP_STDCALL* TDPFPAcquisitionCall)(TDPFPAcquisition acquisition);
typedef void(DP_STDCALL* TDPFPBufferFree)(void* buffer);

/* --- dpFpFns records --------------------------------------------------- */

#define FT_BLACKNWHITE 0
#define FT_GRAYSCALE 1
#define FT_COLOR 2
#define FT_UNKNOWN_IMG_TYPE 3
#define FT_PORTRAIT 0
#define FT_LANDSCAPE 1

typedef struct TFTImageResolution {
  int32_t xDpi;
  int32_t yDpi;
} TFTImageResolution;

typedef struct TFTImageSize {
  int32_t width;
  int32_t height;
} TFTImageSize;

/* One reader of the device list: 176 bytes. */
typedef struct TFTDeviceInfo {
  uint64_t devType;
  int64_t devId;
  uint16_t devName[65];
  uint8_t imgType;
  uint8_t reserved0;
  TFTImageResolution imgResolution;
  uint32_t numIntensityLevels;
  TFTImageSize imgSize;
  uint8_t imgOrientation;
  uint8_t reserved1[3];
  uint32_t maxImgSize;
} TFTDeviceInfo;

/* The record of FT_getDeviceInfo: 440 bytes, the identifier (NUL-terminated
 * UTF-16, at most 65 characters) at byte 284. */
typedef struct TFTDeviceDetails {
  uint32_t cbSize; /* 440, set by the caller */
  uint8_t Reserved0[280];
  uint16_t SerialNumber[65];
  uint8_t Reserved1[26];
} TFTDeviceDetails;

/* The five event handles of a monitored device. */
typedef struct TFTDeviceEvents {
  TDPHandle fingerTouching;
  TDPHandle imageReady;
  TDPHandle fingerRemoved;
  TDPHandle error;
  TDPHandle stop;
} TFTDeviceEvents;

/* The display callback; its arguments are the library's, ignored by
 * dactyra, which always answers true (non-zero). */
typedef int32_t(DP_CDECL* TFTUICallback)(void* user, int32_t kind, void* data);

/* The display link record of FT_setupUIlink. */
typedef struct TFTUILink {
  TFTUICallback Callback;
  void* Reserved0;         /* 0 */
  void* Reserved1;         /* 0 */
  int32_t Width;           /* imgSize.width */
  int32_t Height;          /* imgSize.height */
  uint8_t Orientation;     /* imgOrientation */
  uint8_t Reserved2[3];
  uint32_t IntensityLevels; /* numIntensityLevels */
  uint32_t Rate;            /* 200 */
  uint32_t Reserved3;       /* 0 */
} TFTUILink;

typedef void* TFTContext;

typedef int32_t(DP_CDECL* TFT_init)(void);
typedef int32_t(DP_CDECL* TFT_terminate)(void);
typedef int32_t(DP_CDECL* TFT_getNumDevices)(int32_t* count);
typedef int32_t(DP_CDECL* TFT_getDeviceList)(int32_t count, TFTDeviceInfo* list);
typedef int32_t(DP_CDECL* TFT_getDeviceInfo)(int64_t devId, TFTDeviceDetails* details);
typedef int32_t(DP_CDECL* TFT_createContext)(TFTContext* context);
typedef int32_t(DP_CDECL* TFT_connectDevice)(TFTContext context, int64_t devId, int32_t mode);
typedef int32_t(DP_CDECL* TFT_startMonitoringDevice)(TFTContext context, TFTDeviceEvents* events);
typedef int32_t(DP_CDECL* TFT_setupUIlink)(TFTContext context, TFTUILink* link, void* user);
typedef int32_t(DP_CDECL* TFT_acquireImage)(TFTContext context, int32_t mode, uint32_t bufferSize,
                                            void* buffer, int32_t* status, uint8_t* quality);
typedef int32_t(DP_CDECL* TFT_getImagePixels)(const void* buffer, int32_t pixelCount,
                                              uint8_t* pixels);
typedef int32_t(DP_CDECL* TFT_contextCall)(TFTContext context);

#ifdef __cplusplus
#define DP_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define DP_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

DP_STATIC_ASSERT(sizeof(TDPGuid) == 16, "GUIDs are 16 bytes");
DP_STATIC_ASSERT(offsetof(TDPFPDeviceInfo, ProductName) == 288, "product name at 288");
DP_STATIC_ASSERT(offsetof(TDPFPDeviceInfo, SerialNumber) == 544, "identifier at 544");
DP_STATIC_ASSERT(offsetof(TDPFPImageBlockHead, DataOffset) == 40, "pixel offset at 40");
DP_STATIC_ASSERT(offsetof(TDPFPImageBlockHead, Width) == 64, "width at 64");
DP_STATIC_ASSERT(offsetof(TDPFPImageBlockHead, Height) == 68, "height at 68");
DP_STATIC_ASSERT(sizeof(TFTDeviceInfo) == 176, "TFTDeviceInfo is 176 bytes");
DP_STATIC_ASSERT(offsetof(TFTDeviceInfo, devId) == 8, "devId at 8");
DP_STATIC_ASSERT(offsetof(TFTDeviceInfo, devName) == 16, "devName at 16");
DP_STATIC_ASSERT(offsetof(TFTDeviceInfo, imgType) == 146, "imgType at 146");
DP_STATIC_ASSERT(offsetof(TFTDeviceInfo, imgResolution) == 148, "imgResolution at 148");
DP_STATIC_ASSERT(offsetof(TFTDeviceInfo, numIntensityLevels) == 156, "levels at 156");
DP_STATIC_ASSERT(offsetof(TFTDeviceInfo, imgSize) == 160, "imgSize at 160");
DP_STATIC_ASSERT(offsetof(TFTDeviceInfo, imgOrientation) == 168, "orientation at 168");
DP_STATIC_ASSERT(offsetof(TFTDeviceInfo, maxImgSize) == 172, "maxImgSize at 172");
DP_STATIC_ASSERT(sizeof(TFTDeviceDetails) == 440, "the device details are 440 bytes");
DP_STATIC_ASSERT(offsetof(TFTDeviceDetails, SerialNumber) == 284, "identifier at 284");
DP_STATIC_ASSERT(sizeof(TFTDeviceEvents) == 5 * sizeof(void*), "five handles");

#if defined(__i386__) || defined(_M_IX86)
/* The 32-bit ABI exactly. */
DP_STATIC_ASSERT(offsetof(TDPFPImageNotice, ImageBlock) == 4, "image block is the second word");
DP_STATIC_ASSERT(sizeof(TFTDeviceEvents) == 20, "TFTDeviceEvents is 20 bytes");
DP_STATIC_ASSERT(sizeof(TFTUILink) == 36, "the display link record is 36 bytes");
DP_STATIC_ASSERT(offsetof(TFTUILink, Width) == 12 && offsetof(TFTUILink, Height) == 16 &&
                     offsetof(TFTUILink, Orientation) == 20 &&
                     offsetof(TFTUILink, IntensityLevels) == 24 && offsetof(TFTUILink, Rate) == 28 &&
                     offsetof(TFTUILink, Reserved3) == 32,
                 "display link fields at 12, 16, 20, 24, 28, 32");
#endif

#ifdef __cplusplus
}
#endif

#endif /* DACTYRA_PLUGINS_INTERFACE_DIGITALPERSONA_H_ */
