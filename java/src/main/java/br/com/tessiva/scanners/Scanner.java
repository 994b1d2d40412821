package br.com.tessiva.scanners;

import br.com.tessiva.NativeLibrary;
import java.util.List;
import java.util.Objects;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * One fingerprint reader. Get it from {@link ScannerMan}; start capturing and every image the
 * reader captures arrives as a {@link ScanEvent} of kind {@link ScanEventKind#ImageScanned} at the
 * {@link ScanListener}s, on an event thread of the library.
 *
 * <p>A scanner stays valid until {@link ScannerMan#uninitialize()}; afterwards every call fails with
 * {@link ScanManException} and a new scanner must be obtained.
 *
 * <p>Stopping. {@link #stopCapturing()} waits until the listener running at that moment has
 * returned, except when it is called by a listener of this scanner: then it asks the event thread
 * to end and returns at once. While a stop runs on another thread, a listener of the scanner being
 * stopped that calls into {@code Scanner} or {@code ScannerMan} gets a {@link ScanManException}
 * instead of waiting for the stop (which is waiting for it).
 */
public class Scanner {
  static {
    NativeLibrary.ensureLoaded();
  }

  /**
   * The event handed to {@link Scanner#fireEvent}: its {@link #kind} and, for {@link
   * ScanEventKind#ImageScanned}, the captured {@link #image}.
   */
  public static class ScanEvent {
    /** What happened. */
    public ScanEventKind kind;
    /** The captured image (for {@link ScanEventKind#ImageScanned}). */
    public ScanImage image;

    /** The library makes events with this constructor and fills the fields. */
    public ScanEvent() {}
  }

  private final long handle;
  private final List<ScanListener> listeners = new CopyOnWriteArrayList<>();

  Scanner(long handle) {
    this.handle = handle;
  }

  /**
   * The class of the events the library creates.
   *
   * @return {@link ScanEvent}
   */
  public static Class<?> getEventClass() {
    return ScanEvent.class;
  }

  /**
   * The enum class of the event kinds.
   *
   * @return {@link ScanEventKind}
   */
  public static Class<?> getEventKindClass() {
    return ScanEventKind.class;
  }

  /**
   * The class of the images the library creates.
   *
   * @return {@link ScanImage}
   */
  public static Class<?> getImageClass() {
    return ScanImage.class;
  }

  /**
   * Delivers one event to every listener, in the order they were added. Called by the library on
   * the scanner's event thread. A listener that throws does not keep the others from the event;
   * the first exception is thrown again after all have run (the library prints it and goes on).
   *
   * @param event the event to deliver
   */
  protected void fireEvent(ScanEvent event) {
    RuntimeException first = null;
    for (ScanListener listener : listeners) {
      try {
        listener.scanned(event);
      } catch (RuntimeException e) {
        if (first == null) {
          first = e;
        } else {
          first.addSuppressed(e);
        }
      }
    }
    if (first != null) {
      throw first;
    }
  }

  /**
   * Adds a listener; it receives the events of the current and of later capture runs.
   *
   * @param listener the listener to add
   */
  public void addScanListener(ScanListener listener) {
    listeners.add(Objects.requireNonNull(listener, "listener"));
  }

  /**
   * Removes a listener; it receives no event delivered after this returns on another thread.
   *
   * @param listener the listener to remove; one never added is ignored
   */
  public void removeScanListener(ScanListener listener) {
    listeners.remove(listener);
  }

  /**
   * Activates the reader and starts delivering its images. Does nothing when this scanner is
   * capturing already.
   *
   * @throws ScanManException when the reader cannot be activated (not connected, in use by another
   *     application, refused by its module); the message is the library's, in Portuguese
   */
  public void startCapturing() throws ScanManException {
    innerStartCapturing(handle);
  }

  /**
   * Ends the capture run and deactivates the reader, after the running listener has returned (see
   * the class comment for a stop from a listener). Does nothing on a scanner that is not capturing.
   *
   * @throws ScanManException when this scanner was forgotten by {@link ScannerMan#uninitialize()}
   *     or the reader cannot be stopped
   */
  public void stopCapturing() throws ScanManException {
    innerStopCapturing(handle);
  }

  /**
   * Whether this scanner captures.
   *
   * @return true from a successful start until the stop
   * @throws ScanManException when this scanner was forgotten by {@link ScannerMan#uninitialize()}
   */
  public boolean isCapturing() throws ScanManException {
    return innerIsCapturing(handle);
  }

  /**
   * The reader's name.
   *
   * @return the module prefix, a backslash and the reader's serial number
   * @throws ScanManException when this scanner was forgotten by {@link ScannerMan#uninitialize()}
   */
  public String getId() throws ScanManException {
    return innerGetID(handle);
  }

  /**
   * A capture session handing images out one at a time; it starts capturing when this scanner is
   * not capturing yet, and its {@code close} stops what it started.
   *
   * @return the open session
   * @throws ScanManException when capturing cannot start
   */
  public CaptureSession openSession() throws ScanManException {
    return new CaptureSession(this);
  }

  long handle() {
    return handle;
  }

  @Override
  public String toString() {
    try {
      return "Scanner[" + getId() + "]";
    } catch (ScanManException e) {
      return "Scanner[invalid]";
    }
  }

  native void innerStartCapturing(long handle) throws ScanManException;

  native void innerStopCapturing(long handle) throws ScanManException;

  native boolean innerIsCapturing(long handle) throws ScanManException;

  native String innerGetID(long handle) throws ScanManException;
}
