package br.com.tessiva.bridge;

import br.com.tessiva.scanners.ScanManException;

/** Natives of the test-only library dactyra_jni_probe, over the bridge of libdactyra. */
final class JniProbe {
  static {
    System.loadLibrary("dactyra_jni_probe");
  }

  private JniProbe() {}

  /** Fails inside the lock-and-conversion frame with {@code message}. */
  static native void failInConvertingFrame(String message) throws ScanManException;

  /** The monitor frame over an environment whose MonitorEnter fails; the body returns 5. */
  static native int monitorFrameWithFailingMonitor(Object monitor) throws ScanManException;

  /** The monitor frame over the real environment; the body returns 5. */
  static native int monitorFrame(Object monitor) throws ScanManException;

  static native boolean lastBodyRan();

  /** Whether another thread could take the scanners lock right now. */
  static native boolean scannersLockFree();

  /** A library thread attaches and calls {@code target.callback(text)}, then fails if asked. */
  static native boolean callFromLibraryThread(Object target, String text, boolean fail);

  /** The attached-thread path on the calling Java thread: {@code target.callback("here")}. */
  static native boolean callOnThisThread(Object target);

  /** Sets {@code target.field} to {@code value}, the field's class guessed from the value. */
  static native void setGuessed(Object target, String field, Object value);

  static native Object getObjectField(Object target, String field, String cls);

  /** "ordinal N", or "null" for a missing constant, plus " pending" if JNI's error was pending. */
  static native String enumConstant(Class<?> enumClass, String name);

  static native String roundTrip(String s);

  /** Calls {@code target.texts(a, b)} {@code times} times, then {@code target.ping()}. */
  static native void callTexts(Object target, int times);
}
