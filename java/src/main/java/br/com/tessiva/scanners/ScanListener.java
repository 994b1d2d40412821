package br.com.tessiva.scanners;

/**
 * Receives the events of a {@link Scanner}.
 *
 * <p>Listeners run on the scanner's event thread, one event at a time. Images that arrive while a
 * listener is still busy are not queued: when it returns, the next event carries the latest image
 * only. A listener that throws does not end delivery: the library prints the exception to standard
 * error and goes on with the next image.
 *
 * <p>A listener may call back into {@link Scanner} and {@link ScannerMan}, including {@link
 * Scanner#stopCapturing()} on its own scanner (which then returns at once, without waiting for the
 * listener to return). While another thread is stopping the listener's own scanner, such a call
 * fails with {@link ScanManException} instead of waiting, because the stop waits for the listener.
 */
@FunctionalInterface
public interface ScanListener {
  /**
   * Receives one event.
   *
   * @param event the event, with the image of an {@link ScanEventKind#ImageScanned} event
   */
  void scanned(Scanner.ScanEvent event);
}
