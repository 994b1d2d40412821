/*
 * The machine-dependent part of jni.h for Windows targets. The JDK on the
 * build machine ships only its own platform's; this one gives what a
 * Windows Java VM expects of a native library: entry points exported from
 * the DLL, called with the stdcall convention (the only one on x86_64),
 * and the Windows sizes of the JNI integer types (long is 32 bits there).
 */
#ifndef DACTYRA_BRIDGE_WIN32_JNI_MD_H_
#define DACTYRA_BRIDGE_WIN32_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif /* DACTYRA_BRIDGE_WIN32_JNI_MD_H_ */
