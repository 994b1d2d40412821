// The DigitalPersona binding: U.are.U readers through one of DigitalPersona's
// two libraries, DPFPApi (preferred) or dpFpFns, loaded at run time. Readers
// are named "UareU\<identifier>"; every captured image reaches the caller's
// image procedure at 320 x 365 (DPFPApi) or 321 x 365 (dpFpFns), 500 dpi.
//
// Status codes: 0 done; -1 failure (the library refused, the reader is
// unknown, an index is out of range); -3 not initialised (no library loaded,
// or its initialisation failed); -100 stop of a reader that is unknown or
// not capturing; -101 start of a reader already capturing; -102 stop asked
// from the reader's own delivery thread (from inside its image procedure),
// which could never finish.
//
// Threads: SMLoad, SMUnload and SMDeviceCount take no lock of their own: the
// caller runs them one at a time, never together with another call of the
// binding. Naming, starting and stopping may run on any threads at once
// (they share the binding lock).
//
// Images are delivered on the reader's own thread (a message thread for
// DPFPApi, a capture thread for dpFpFns), without the binding lock. The
// image procedure must not call the binding: a stop waits for the delivery
// thread while it holds the binding lock, so a call from an image procedure
// made while another thread stops any reader waits for ever. A stop of the
// procedure's own reader from inside it answers -102 at once, and SMUnload
// from inside it does nothing.
//
// A failed initialisation leaves nothing loaded: SMLoad answers false, every
// later call answers as if no library were present (SMDeviceCount 0, the
// others -3), and the next SMLoad tries both libraries again.
#pragma once

#include <cstdint>

#include "platform/env.h"
#include "platform/text.h"
#include "plugins/interface/digitalpersona.h"

namespace dactyra::capture::digitalpersona {

// The image procedure. ScannerId: the reader name in the ANSI code page;
// Image: Width x Height gray bytes, rows from the top, no padding, valid
// only during the call; Param: the value given to SMStartCapture.
typedef void(DP_STDCALL* TSMImageProc)(const char* ScannerId, int32_t Width, int32_t Height,
                                       const uint8_t* Image, int32_t Resolution, void* Param);

inline constexpr int kSMOk = 0;
inline constexpr int kSMFailed = -1;
inline constexpr int kSMNotInitialised = -3;
inline constexpr int kSMNotCapturing = -100;
inline constexpr int kSMAlreadyCapturing = -101;
inline constexpr int kSMStopFromImageProc = -102;

// Image sizes handed to the image procedure.
inline constexpr int32_t kDPFPApiWidth = 320;
inline constexpr int32_t kDpFpFnsWidth = 321;
inline constexpr int32_t kSMImageHeight = 365;
inline constexpr int32_t kSMResolution = 500;

// Loads DPFPApi, else dpFpFns, and initialises it; true when a library is
// ready (at once when one already is). `env` serves every later call until
// SMUnload and must outlive it.
bool SMLoad(platform::Env& env = platform::Env::Default());

// Stops every capture, terminates and unloads the library. Nothing when no
// library is loaded.
void SMUnload();

// Readers attached now; 0 when none or no library is loaded.
int SMDeviceCount();

// The name of reader `index` (0-based) of a fresh listing; readers keep their
// places from one listing to the next and new ones go to the end. Throws
// dactyra::Exception "Can not retrieve scanner id" when there is none.
platform::Text SMGetScannerId(int index);

// Starts capture on the reader of that name (letter case significant); its
// images go to `image_proc` with `param`. `reserved` is not read.
int SMStartCapture(const platform::Text& name, TSMImageProc image_proc, void* reserved,
                   void* param);

// Stops capture on that reader and waits until its image procedure has
// returned for the last time.
int SMStopCapture(const platform::Text& name);

}  // namespace dactyra::capture::digitalpersona
