package br.com.tessiva;

/**
 * Loads the native library {@code dactyra} once for every class of the toolkit that has native
 * methods.
 */
public final class NativeLibrary {
  /** The name {@link System#loadLibrary} is given: libdactyra.so, dactyra.dll. */
  public static final String NAME = "dactyra";

  private static boolean loaded;

  private NativeLibrary() {}

  /**
   * Loads the library if it is not loaded yet.
   *
   * @throws UnsatisfiedLinkError when it is not found on {@code java.library.path}
   */
  public static synchronized void ensureLoaded() {
    if (!loaded) {
      System.loadLibrary(NAME);
      loaded = true;
    }
  }
}
