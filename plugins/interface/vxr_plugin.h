/*
 * dactyra reader plug-in interface.
 *
 * A reader plug-in is a shared library named vxr_<name>.dll (vxr_<name>.so
 * on Linux) that drives one family of fingerprint readers. dactyra loads
 * every such file it finds beside the host program or beside itself, binds
 * the exports below and offers the plug-in's devices to Java applications.
 * This header is all a plug-in needs; it includes only <stddef.h> and
 * <stdint.h> and compiles as C and as C++.
 *
 * Writing a plug-in
 *
 *   Export each function with C linkage and the VXR_STDCALL convention,
 *   either under its plain name (VXR_GetImage) or under its decorated name
 *   _VXR_GetImage@<n>, n being VXR_ARGS_GetImage (the argument bytes: 8 on
 *   32-bit Windows, where MSVC gives __stdcall exports this name; with
 *   MinGW name them in a .def file). dactyra tries the plain name first. Required: VXR_GetPrefix, VXR_GetDeviceList,
 *   VXR_OpenDevice, VXR_CloseDevice, VXR_GetMaxSize, VXR_GetImage; a plug-in
 *   lacking one is unloaded and ignored. Optional: VXR_ShutdownDevice, and
 *   the pair VXR_SendCommand + VXR_GetResult (both or none).
 *
 *   VXR_GetPrefix()        the reader family ("Lumidigm"): a NUL-terminated
 *                          text valid while the plug-in is loaded. Devices
 *                          are named "<prefix>\<serial>"; a prefix with a
 *                          backslash makes them impossible to open.
 *   VXR_GetDeviceList(buffer, size)
 *                          return the bytes a complete TVxrDeviceList needs
 *                          (VXR_DEVICE_LIST_SIZE), never less than 4. When
 *                          size < 4 write nothing; otherwise write
 *                          NumDevices, and only when size is at least the
 *                          needed size also the pointers (absolute addresses
 *                          into the same buffer) and the NUL-terminated
 *                          serials from VXR_DEVICE_LIST_TEXT_OFFSET(n) on.
 *   VXR_OpenDevice(serial) a new handle for the device listed with that
 *                          serial (possibly ""), or NULL.
 *   VXR_GetMaxSize(h, size)
 *                          the largest image: Width, Height, ByteSize.
 *   VXR_GetImage(h, image) write the header and pixels of the next image and
 *                          return true, or return false when none is ready.
 *                          Called again at once after each return, so either
 *                          wait inside for an image or do one short step of
 *                          work per call. The pixels must fit in the
 *                          ByteSize of VXR_GetMaxSize: dactyra refuses an
 *                          image with Width x Height above it.
 *   VXR_ShutdownDevice(h)  called from another thread while VXR_GetImage may
 *                          be waiting on h: make that call return false soon
 *                          and every later one too; do not release h.
 *   VXR_CloseDevice(h)     release h; it is never called while VXR_GetImage
 *                          runs on h.
 *   VXR_SendCommand(h, command, args)
 *                          run a named command (h NULL: addressed to the
 *                          plug-in as a whole); return < 0 for an error, 0
 *                          for done, n > 0 for n result bytes now pending.
 *   VXR_GetResult(h, result, size)
 *                          copy up to size pending result bytes, return the
 *                          count; dactyra asks for exactly n and treats
 *                          fewer as an error.
 *
 * Ownership: buffers belong to dactyra, which allocates them and passes
 * their size; prefix text and handles belong to the plug-in. Texts are
 * NUL-terminated in the system ANSI code page (UTF-8 on Linux). Boolean
 * results are one byte, 0 false.
 *
 * Threads: a plug-in starts no thread of its own. Counting, listing and
 * opening arrive one at a time; each open device has a capture thread calling
 * VXR_GetMaxSize once and then VXR_GetImage in a loop, and several devices
 * may capture at once while others are listed. VXR_ShutdownDevice and
 * commands may arrive on other threads while VXR_GetImage waits.
 *
 * On 64-bit builds pointers and handles are pointer-sized; the device list
 * still keeps its 32-bit count at offset 0 and packs the pointers from
 * offset 4, so read and write them with memcpy (they may be unaligned).
 */
#ifndef DACTYRA_PLUGINS_INTERFACE_VXR_PLUGIN_H_
#define DACTYRA_PLUGINS_INTERFACE_VXR_PLUGIN_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The calling convention of every export: stdcall on 32-bit x86, the one
 * convention elsewhere. */
#if defined(__i386__) || defined(_M_IX86)
#if defined(_MSC_VER)
#define VXR_STDCALL __stdcall
#else
#define VXR_STDCALL __attribute__((stdcall))
#endif
#else
#define VXR_STDCALL
#endif

/* Marks a plug-in's exported functions. */
#if defined(_WIN32)
#define VXR_EXPORT_ATTRIBUTE __declspec(dllexport)
#else
#define VXR_EXPORT_ATTRIBUTE __attribute__((visibility("default")))
#endif
#ifdef __cplusplus
#define VXR_EXPORT extern "C" VXR_EXPORT_ATTRIBUTE
#else
#define VXR_EXPORT VXR_EXPORT_ATTRIBUTE
#endif

/* One-byte boolean result: 0 false, anything else true. */
typedef uint8_t TVxrBool;
#define VXR_FALSE ((TVxrBool)0)
#define VXR_TRUE ((TVxrBool)1)

/* The plug-in's device object; dactyra never looks inside. */
typedef struct TVxrCapture TVxrCapture;
typedef TVxrCapture* TVxrCaptureHandle;

#pragma pack(push, 4)
/* The device list block: the count, then NumDevices pointers packed from
 * offset 4, then the texts they point at. Variable length; this struct is
 * its fixed part. */
typedef struct TVxrDeviceList {
  uint32_t NumDevices;
  char* SerialNumbers[1];
} TVxrDeviceList, *PVxrDeviceList;
#pragma pack(pop)

/* Where the texts of a block with n entries begin. */
#define VXR_DEVICE_LIST_TEXT_OFFSET(n) ((size_t)4 + (size_t)(n) * sizeof(char*))
/* What one entry with a serial of len bytes adds to a block. */
#define VXR_DEVICE_LIST_ENTRY_SIZE(len) (sizeof(char*) + (size_t)(len) + 1)
/* The smallest answer of VXR_GetDeviceList, and a block with no entries. */
#define VXR_DEVICE_LIST_EMPTY_SIZE 4

typedef struct TVxrImageSize {
  int32_t Width;
  int32_t Height;
  /* pixel bytes of the largest image */
  int32_t ByteSize;
} TVxrImageSize, *PVxrImageSize;

/* The image header; Width x Height 8-bit gray pixels follow it in the same
 * buffer, rows from the top, no padding. */
typedef struct TVxrImage {
  TVxrImageSize Size;
  /* 0: 8-bit gray */
  int32_t Format;
  /* dots per inch */
  int32_t Resolution;
} TVxrImage, *PVxrImage;

#define VXR_IMAGE_PIXELS(image) ((uint8_t*)(image) + sizeof(TVxrImage))

typedef const char*(VXR_STDCALL* TFuncVXR_GetPrefix)(void);
typedef int32_t(VXR_STDCALL* TFuncVXR_GetDeviceList)(PVxrDeviceList pBuffer, int32_t size);
typedef TVxrCaptureHandle(VXR_STDCALL* TFuncVXR_OpenDevice)(const char* serialNumber);
/* Also the type of VXR_ShutdownDevice. */
typedef TVxrBool(VXR_STDCALL* TFuncVXR_CloseDevice)(TVxrCaptureHandle handle);
typedef TVxrBool(VXR_STDCALL* TFuncVXR_GetMaxSize)(TVxrCaptureHandle handle, PVxrImageSize pSize);
typedef TVxrBool(VXR_STDCALL* TFuncVXR_GetImage)(TVxrCaptureHandle handle, PVxrImage pImage);
typedef int32_t(VXR_STDCALL* TFuncVXR_SendCommand)(TVxrCaptureHandle handle, const char* pCommand,
                                                   const void* pArgs);
typedef int32_t(VXR_STDCALL* TFuncVXR_GetResult)(TVxrCaptureHandle handle, void* pResult,
                                                 int32_t size);

/* Argument bytes of each export, the <n> of its decorated name. */
#define VXR_ARGS_GetPrefix 0u
#define VXR_ARGS_GetDeviceList ((unsigned)(sizeof(void*) + 4))
#define VXR_ARGS_OpenDevice ((unsigned)sizeof(void*))
#define VXR_ARGS_CloseDevice ((unsigned)sizeof(void*))
#define VXR_ARGS_ShutdownDevice ((unsigned)sizeof(void*))
#define VXR_ARGS_GetMaxSize ((unsigned)(2 * sizeof(void*)))
#define VXR_ARGS_GetImage ((unsigned)(2 * sizeof(void*)))
#define VXR_ARGS_SendCommand ((unsigned)(3 * sizeof(void*)))
#define VXR_ARGS_GetResult ((unsigned)(2 * sizeof(void*) + 4))

#ifdef __cplusplus
#define VXR_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define VXR_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

/* Layouts every build agrees on. */
VXR_STATIC_ASSERT(sizeof(TVxrBool) == 1, "booleans are one byte");
VXR_STATIC_ASSERT(offsetof(TVxrDeviceList, NumDevices) == 0, "count at offset 0");
VXR_STATIC_ASSERT(offsetof(TVxrDeviceList, SerialNumbers) == 4, "pointers packed from offset 4");
VXR_STATIC_ASSERT(sizeof(TVxrDeviceList) == 4 + sizeof(char*), "count and first pointer");
VXR_STATIC_ASSERT(sizeof(TVxrImageSize) == 12, "TVxrImageSize is 12 bytes");
VXR_STATIC_ASSERT(offsetof(TVxrImageSize, Height) == 4, "Height at 4");
VXR_STATIC_ASSERT(offsetof(TVxrImageSize, ByteSize) == 8, "ByteSize at 8");
VXR_STATIC_ASSERT(sizeof(TVxrImage) == 20, "the image header is 20 bytes");
VXR_STATIC_ASSERT(offsetof(TVxrImage, Format) == 12, "Format at 12");
VXR_STATIC_ASSERT(offsetof(TVxrImage, Resolution) == 16, "Resolution at 16");

#if defined(__i386__) || defined(_M_IX86)
/* The 32-bit ABI exactly. */
VXR_STATIC_ASSERT(sizeof(void*) == 4, "32-bit pointers");
VXR_STATIC_ASSERT(sizeof(TVxrDeviceList) == 8, "the device list's fixed part is 8 bytes");
VXR_STATIC_ASSERT(sizeof(TVxrCaptureHandle) == 4, "handles are 4 bytes");
VXR_STATIC_ASSERT(VXR_DEVICE_LIST_TEXT_OFFSET(2) == 12, "texts of a 2-entry list at 12");
VXR_STATIC_ASSERT(VXR_ARGS_GetDeviceList == 8 && VXR_ARGS_OpenDevice == 4 &&
                      VXR_ARGS_CloseDevice == 4 && VXR_ARGS_GetMaxSize == 8 &&
                      VXR_ARGS_GetImage == 8 && VXR_ARGS_ShutdownDevice == 4 &&
                      VXR_ARGS_SendCommand == 12 && VXR_ARGS_GetResult == 12,
                  "decorated-name argument bytes");
#endif

#ifdef __cplusplus
}
#endif

#endif /* DACTYRA_PLUGINS_INTERFACE_VXR_PLUGIN_H_ */
