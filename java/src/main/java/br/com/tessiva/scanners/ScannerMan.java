package br.com.tessiva.scanners;

import br.com.tessiva.NativeLibrary;
import java.lang.ref.WeakReference;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * The fingerprint readers attached to this computer. Readers are found by the capture modules the
 * library loads from the program's and the library's folders ({@code vxr_*} plug-ins, FPSmm
 * modules) and through DigitalPersona's library when it is installed.
 *
 * <pre>{@code
 * for (Scanner scanner : ScannerMan.getScanners()) {
 *   scanner.addScanListener(e -> show(e.image));
 *   scanner.startCapturing();
 * }
 * }</pre>
 *
 * <p>The same reader always gives the same {@link Scanner} object until {@link #uninitialize()}.
 */
public final class ScannerMan {
  static {
    NativeLibrary.ensureLoaded();
  }

  // The Java objects of the handles handed out, so that one reader keeps one object (and its
  // listeners). Handles are never reused, so entries from before an uninitialize are never found
  // again; they are dropped once nothing else holds their scanner.
  private static final Map<Long, WeakReference<Scanner>> scanners = new HashMap<>();

  private ScannerMan() {}

  /**
   * The number of readers attached now.
   *
   * @return the count, 0 when there is none
   * @throws ScanManException when the readers cannot be listed
   */
  public static int getScannerCount() throws ScanManException {
    return innerGetScannerCount();
  }

  /**
   * The scanner of the reader at {@code index} (0 to {@link #getScannerCount()} - 1).
   *
   * @param index the reader's position in the library's order
   * @return the scanner, or {@code null} when there is no reader at that position
   * @throws ScanManException when the readers cannot be listed, or for a negative index
   */
  public static Scanner getScanner(int index) throws ScanManException {
    long handle = innerGetScanner(index);
    if (handle == 0) {
      return null;
    }
    synchronized (scanners) {
      scanners.values().removeIf(ref -> ref.get() == null);
      WeakReference<Scanner> ref = scanners.get(handle);
      Scanner scanner = ref == null ? null : ref.get();
      if (scanner == null) {
        scanner = new Scanner(handle);
        scanners.put(handle, new WeakReference<>(scanner));
      }
      return scanner;
    }
  }

  /**
   * The scanners of every reader attached now.
   *
   * @return the scanners in the library's order, unmodifiable
   * @throws ScanManException when the readers cannot be listed
   */
  public static List<Scanner> getScanners() throws ScanManException {
    int count = getScannerCount();
    List<Scanner> list = new ArrayList<>(count);
    for (int i = 0; i < count; i++) {
      Scanner scanner = getScanner(i);
      if (scanner != null) {
        list.add(scanner);
      }
    }
    return Collections.unmodifiableList(list);
  }

  /**
   * Stops every scanner and forgets them all: the {@link Scanner} objects handed out before fail
   * with {@link ScanManException} afterwards, and {@link #getScanner(int)} gives new ones. Readers
   * are found again by the next call.
   *
   * @throws ScanManException when a scanner cannot be stopped
   */
  public static native void uninitialize() throws ScanManException;

  static native int innerGetScannerCount() throws ScanManException;

  static native long innerGetScanner(int index) throws ScanManException;
}
