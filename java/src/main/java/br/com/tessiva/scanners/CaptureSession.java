package br.com.tessiva.scanners;

import java.time.Duration;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.locks.Condition;
import java.util.concurrent.locks.ReentrantLock;

/**
 * A capture run for simple programs: opened with {@link Scanner#openSession()}, it starts
 * capturing when the scanner is not capturing yet and hands images out one at a time through
 * {@link #nextImage(Duration)}. Closing it stops the capture run it started.
 *
 * <pre>{@code
 * try (CaptureSession session = scanner.openSession()) {
 *   ScanImage image = session.nextImage(Duration.ofSeconds(10));
 * }
 * }</pre>
 *
 * <p>Only the latest image is kept: an image not taken before the next one arrives is dropped.
 */
public final class CaptureSession implements AutoCloseable {
  private final Scanner scanner;
  private final boolean started;
  private final ScanListener listener = this::offer;
  private final ReentrantLock lock = new ReentrantLock();
  private final Condition arrived = lock.newCondition();
  private ScanImage latest;
  private boolean closed;

  CaptureSession(Scanner scanner) throws ScanManException {
    this.scanner = scanner;
    scanner.addScanListener(listener);
    boolean startedHere = false;
    try {
      if (!scanner.isCapturing()) {
        scanner.startCapturing();
        startedHere = true;
      }
    } catch (ScanManException | RuntimeException e) {
      scanner.removeScanListener(listener);
      throw e;
    }
    this.started = startedHere;
  }

  private void offer(Scanner.ScanEvent event) {
    if (event.kind != ScanEventKind.ImageScanned || event.image == null) {
      return;
    }
    lock.lock();
    try {
      latest = event.image;
      arrived.signalAll();
    } finally {
      lock.unlock();
    }
  }

  /**
   * The next image captured since the previous call (or since the session opened), waiting at most
   * {@code timeout} for it.
   *
   * @param timeout how long to wait at most
   * @return the image, or {@code null} when none arrived in time or the session is closed
   * @throws InterruptedException when the waiting thread is interrupted
   */
  public ScanImage nextImage(Duration timeout) throws InterruptedException {
    long nanos = timeout.toNanos();
    lock.lockInterruptibly();
    try {
      while (latest == null && !closed) {
        if (nanos <= 0) {
          return null;
        }
        nanos = arrived.awaitNanos(nanos);
      }
      ScanImage image = latest;
      latest = null;
      return image;
    } finally {
      lock.unlock();
    }
  }

  /**
   * As {@link #nextImage(Duration)} with the time in {@code unit}.
   *
   * @param timeout how long to wait at most, in {@code unit}
   * @param unit the unit of {@code timeout}
   * @return the image, or {@code null} when none arrived in time or the session is closed
   * @throws InterruptedException when the waiting thread is interrupted
   */
  public ScanImage nextImage(long timeout, TimeUnit unit) throws InterruptedException {
    return nextImage(Duration.ofNanos(unit.toNanos(timeout)));
  }

  /** Stops the capture run when this session started it; wakes a waiting {@code nextImage}. */
  @Override
  public void close() throws ScanManException {
    lock.lock();
    try {
      if (closed) {
        return;
      }
      closed = true;
      arrived.signalAll();
    } finally {
      lock.unlock();
    }
    scanner.removeScanListener(listener);
    if (started) {
      scanner.stopCapturing();
    }
  }
}
