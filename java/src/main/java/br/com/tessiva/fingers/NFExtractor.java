package br.com.tessiva.fingers;

import br.com.tessiva.NativeLibrary;
import br.com.tessiva.images.NImage;
import br.com.tessiva.templates.NFRecord;
import java.lang.ref.Cleaner;
import java.util.ArrayDeque;
import java.util.Deque;
import java.util.Objects;

/**
 * Extracts fingerprint templates from gray images with the extraction engine {@code VxExtract}
 * (VxExtract.dll, VxExtract.so), which the native library loads on first use: through the system's
 * search for libraries, then from the native library's own folder.
 *
 * <pre>{@code
 * try (NFExtractor extractor = new NFExtractor()) {
 *   NFRecord record = extractor.extract(image, NFPosition.RIGHT_INDEX_FINGER,
 *       NFImpressionType.LIVE_SCAN_PLAIN);
 *   List<NFMinutia> minutiae = record.getMinutiae();
 * }
 * }</pre>
 *
 * <p>Each extractor holds a native configuration record (about 100 bytes) that is never freed:
 * {@link #close} (or the collection of an extractor that was not closed) hands it to the next
 * extractor made, so the process holds as many records as it ever had extractors open at once.
 * Extractions of all extractors run one at a time; an extractor may be used from several threads.
 *
 * <p>When the current user's registry value "SI" under "\Software\Tessiva BR\dactyra" is the
 * integer 1, every image handed to the engine is also kept as a BMP file in the folder {@code
 * imglog} beside the native library (one folder per day; only today's and yesterday's are kept).
 */
public final class NFExtractor implements AutoCloseable {
  static {
    NativeLibrary.ensureLoaded();
  }

  private static final Cleaner CLEANER = Cleaner.create();
  // Configuration records of closed extractors, ready for the next one.
  private static final Deque<Long> RELEASED = new ArrayDeque<>();

  // Read by the native library under this name: the address of the configuration record, 0 once
  // the extractor is closed.
  long handle;

  private final Cleaner.Cleanable cleanable;

  /**
   * An extractor with the engine's default configuration.
   *
   * @throws ExtractorException when the engine cannot be loaded; the message is "Could not load
   *     VxExtractor library - " followed by the path tried last. A later attempt tries again.
   */
  public NFExtractor() throws ExtractorException {
    Long reused;
    synchronized (RELEASED) {
      reused = RELEASED.poll();
    }
    if (reused != null) {
      handle = reused;
    } else {
      try {
        handle = innerCreateExtractor();
      } catch (RuntimeException e) {
        throw e;
      } catch (Exception e) {
        throw new ExtractorException(e.getMessage(), e);
      }
    }
    cleanable = CLEANER.register(this, new Release(handle));
  }

  // An extractor over `handle` as given, which close() does not pool: for calling the natives
  // directly.
  NFExtractor(long handle) {
    this.handle = handle;
    this.cleanable = null;
  }

  /**
   * The template of {@code image}.
   *
   * @param image the gray picture of one finger
   * @param position the finger it shows, stored in the template
   * @param impressionType how it was taken, stored in the template
   * @return the template record the engine made
   * @throws ExtractorException when the engine finds no fingerprint template in the image
   * @throws IllegalArgumentException when the image's sizes are not positive or its buffer is
   *     shorter than width × height
   * @throws IllegalStateException when the extractor is closed, or the engine lacks extraction
   */
  public synchronized NFRecord extract(NImage image, NFPosition position,
      NFImpressionType impressionType) throws ExtractorException {
    Objects.requireNonNull(image, "image");
    Objects.requireNonNull(position, "position");
    Objects.requireNonNull(impressionType, "impressionType");
    if (handle == 0) {
      throw new IllegalStateException("NFExtractor is closed");
    }
    byte[] record;
    try {
      record = innerExtract(image, position, impressionType);
    } catch (RuntimeException e) {
      throw e;
    } catch (Exception e) {
      throw new ExtractorException(e.getMessage(), e);
    }
    if (record == null) {
      throw new ExtractorException("No fingerprint template found in the image");
    }
    return new NFRecord(record);
  }

  /**
   * Whether {@link #close} was called.
   *
   * @return true once closed
   */
  public synchronized boolean isClosed() {
    return handle == 0;
  }

  /** Hands the configuration record to the next extractor made. Closing twice does nothing. */
  @Override
  public synchronized void close() {
    if (handle != 0) {
      handle = 0;
      if (cleanable != null) {
        cleanable.clean();
      }
    }
  }

  // Returns a configuration record to the pool, once. Holds no reference to its extractor.
  private static final class Release implements Runnable {
    private final long record;

    Release(long record) {
      this.record = record;
    }

    @Override
    public void run() {
      synchronized (RELEASED) {
        RELEASED.push(record);
      }
    }
  }

  // The address of a new configuration record filled with the engine's defaults; raises
  // java.lang.Exception when the engine cannot be loaded.
  native long innerCreateExtractor() throws Exception;

  // The template record of the image, or null when the engine finds none.
  native byte[] innerExtract(NImage image, NFPosition position, NFImpressionType impressionType)
      throws Exception;
}
