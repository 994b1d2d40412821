package br.com.tessiva.base;

import br.com.tessiva.NativeLibrary;
import br.com.tessiva.images.NImage;
import java.lang.ref.Cleaner;
import java.nio.file.Path;
import java.time.LocalDateTime;
import java.time.temporal.ChronoUnit;
import java.util.ArrayList;
import java.util.List;
import java.util.Objects;
import java.util.Optional;
import java.util.function.Consumer;

/**
 * A fingerprint base in one file: people, by a text code, with the fingers they enrolled, searched
 * by identification (who is this?) and verification (is this that person?).
 *
 * <p>Images become templates through the extraction engine ({@code VxExtract}), found as {@link
 * br.com.tessiva.fingers.NFExtractor} finds it. Scores run from 0 (nothing alike) to {@link
 * #MAX_SCORE}; a match needs the base's thresholds.
 *
 * <p>The file is a SQLite database of its own format: a file of any other kind, or one written by
 * a newer version of the library, is refused and left untouched. Several programs may use one file
 * at once; entries that another program enrolls are found by the next identification here. A base
 * is safe for use by several threads at once. Close it (try-with-resources) to release the file;
 * every call after {@link #close()} fails with {@link IllegalStateException}.
 */
public final class FingerprintBase implements AutoCloseable {
  static {
    NativeLibrary.ensureLoaded();
  }

  /** The highest score: the same minutiae. */
  public static final int MAX_SCORE = 10000;

  /**
   * An entry found by {@link #identify}: whose finger, and how alike.
   *
   * @param id the entry's id
   * @param code the person's code
   * @param finger the finger position code the entry was enrolled with
   * @param score how alike the image is to the entry, 0 to {@link #MAX_SCORE}
   */
  public record Match(int id, String code, int finger, int score) {}

  /**
   * One enrolled finger.
   *
   * @param id the entry's id
   * @param code the person's code
   * @param finger the finger position code: 0 unknown, 1–5 right thumb to little finger, 6–10
   *     left thumb to little finger
   * @param enrolled when it was enrolled (local time)
   * @param lastRecognised when an identification last found it (local time); empty when never
   * @param recognitions how many identifications found it
   */
  public record Entry(int id, String code, int finger, LocalDateTime enrolled,
      Optional<LocalDateTime> lastRecognised, int recognitions) {
    /** The library's form: dates as days since 30 December 1899 with the time as the fraction. */
    Entry(int id, String code, int finger, double enrolled, double lastRecognised,
        int recognitions) {
      this(id, code, finger, dateTime(enrolled),
          lastRecognised == 0 ? Optional.empty() : Optional.of(dateTime(lastRecognised)),
          recognitions);
    }
  }

  /**
   * The scores this base asks of a match, each from 0 to {@link #MAX_SCORE}.
   *
   * @param identify what {@link #identify} needs to name an entry
   * @param verify what {@link #verify} must reach for a match
   * @param enrollmentAgreement how alike each image of an enrollment must be to another
   */
  public record Thresholds(int identify, int verify, int enrollmentAgreement) {}

  private static final Cleaner CLEANER = Cleaner.create();
  private static final LocalDateTime DAY_ZERO = LocalDateTime.of(1899, 12, 30, 0, 0);

  private final Path path;
  private final Handle handle;
  private final Cleaner.Cleanable cleanable;

  /** Closes the native base when the Java object goes without {@link #close()}. */
  private static final class Handle implements Runnable {
    private volatile long value;

    Handle(long value) {
      this.value = value;
    }

    long get() {
      long v = value;
      if (v == 0) throw new IllegalStateException("the fingerprint base is closed");
      return v;
    }

    @Override
    public synchronized void run() {
      long v = value;
      value = 0;
      if (v != 0) innerClose(v);
    }
  }

  /**
   * Opens the base in {@code file}, making a new one when the file does not exist (or is empty).
   *
   * @param file the base's file
   * @throws FingerprintBaseException when the file is not a fingerprint base, is of a newer format,
   *     or cannot be opened or made
   */
  public FingerprintBase(Path file) throws FingerprintBaseException {
    this(file, true);
  }

  private FingerprintBase(Path file, boolean create) throws FingerprintBaseException {
    this.path = Objects.requireNonNull(file, "file");
    this.handle = new Handle(innerOpen(file.toString(), create));
    this.cleanable = CLEANER.register(this, handle);
  }

  /**
   * Opens the base in {@code file}, which must exist.
   *
   * @param file the base's file
   * @return the open base
   * @throws FingerprintBaseException when the file does not exist, is not a fingerprint base, is
   *     of a newer format or cannot be opened
   */
  public static FingerprintBase openExisting(Path file) throws FingerprintBaseException {
    return new FingerprintBase(file, false);
  }

  /**
   * The file of the base.
   *
   * @return the path it was opened with
   */
  public Path path() {
    return path;
  }

  /**
   * Enrolls one finger of a person from one to ten images of it, which must agree with one another
   * (each alike enough to at least one other). The entry holds the templates of all of them.
   *
   * @param code the person's code, 1 to 256 characters
   * @param finger the finger position code, 0 (unknown) to 15
   * @param images the pictures of the finger, 8-bit gray at about 500 dots per inch
   * @return the new entry's id
   * @throws FingerprintBaseException when an image gives no usable template or the images do not
   *     agree; the base is then unchanged
   */
  public int enroll(String code, int finger, NImage... images) throws FingerprintBaseException {
    Objects.requireNonNull(code, "code");
    Objects.requireNonNull(images, "images");
    for (NImage image : images) Objects.requireNonNull(image, "image");
    return innerEnroll(handle.get(), code, finger, images);
  }

  /**
   * The enrolled finger most like {@code image}, when it reaches the identification threshold; it
   * is noted as recognised (its count and date). The first identification after opening reads and
   * prepares every entry; later ones search them in memory, taking in first what other programs
   * changed in the file.
   *
   * @param image the picture to search
   * @return the entry found, or empty when none reaches {@link Thresholds#identify()} (also when
   *     the image gives no template)
   * @throws FingerprintBaseException when the image has no pixels or the file cannot be read
   */
  public Optional<Match> identify(NImage image) throws FingerprintBaseException {
    Objects.requireNonNull(image, "image");
    return Optional.ofNullable(innerIdentify(handle.get(), image));
  }

  /**
   * How alike {@code image} is to the best of the fingers enrolled under {@code code}. It matches
   * when it reaches {@link Thresholds#verify()}.
   *
   * @param code the person's code
   * @param image the picture to compare
   * @return the score, 0 to {@link #MAX_SCORE}; 0 when the code has no entry or the image gives
   *     no template
   * @throws FingerprintBaseException when the image has no pixels or the file cannot be read
   */
  public int verify(String code, NImage image) throws FingerprintBaseException {
    Objects.requireNonNull(code, "code");
    Objects.requireNonNull(image, "image");
    return innerVerify(handle.get(), code, image);
  }

  /**
   * Removes every finger of {@code code}, and the code's text.
   *
   * @param code the person's code
   * @return the number of entries removed
   * @throws FingerprintBaseException when the file cannot be written
   */
  public int remove(String code) throws FingerprintBaseException {
    Objects.requireNonNull(code, "code");
    return innerRemove(handle.get(), code);
  }

  /**
   * Every code with an entry, in order.
   *
   * @return the codes
   * @throws FingerprintBaseException when the file cannot be read
   */
  public List<String> codes() throws FingerprintBaseException {
    List<String> codes = new ArrayList<>();
    innerCodes(handle.get(), codes::add);
    return codes;
  }

  /**
   * Every entry, in id order.
   *
   * @return the entries
   * @throws FingerprintBaseException when the file cannot be read
   */
  public List<Entry> entries() throws FingerprintBaseException {
    List<Entry> entries = new ArrayList<>();
    innerEntries(handle.get(), entries::add);
    return entries;
  }

  /**
   * The scores this base asks of a match.
   *
   * @return the thresholds
   * @throws FingerprintBaseException never in practice; declared as every call of the base
   */
  public Thresholds thresholds() throws FingerprintBaseException {
    return innerThresholds(handle.get());
  }

  /**
   * Rewrites the file without the room that removed entries left.
   *
   * @throws FingerprintBaseException when the file cannot be rewritten (another program is using
   *     it, or the disk is full)
   */
  public void compact() throws FingerprintBaseException {
    innerCompact(handle.get());
  }

  /** Releases the file; closing again does nothing. */
  @Override
  public void close() {
    cleanable.clean();
  }

  /** The native handle, for the scanner that enrolls or identifies against this base. */
  long handle() {
    return handle.get();
  }

  private static LocalDateTime dateTime(double days) {
    return DAY_ZERO.plus(Math.round(days * 86_400_000d), ChronoUnit.MILLIS);
  }

  private static native long innerOpen(String path, boolean create)
      throws FingerprintBaseException;

  private static native void innerClose(long handle);

  private static native int innerEnroll(long handle, String code, int finger, NImage[] images)
      throws FingerprintBaseException;

  private static native Match innerIdentify(long handle, NImage image)
      throws FingerprintBaseException;

  private static native int innerVerify(long handle, String code, NImage image)
      throws FingerprintBaseException;

  private static native int innerRemove(long handle, String code) throws FingerprintBaseException;

  private static native void innerCodes(long handle, Consumer<String> out)
      throws FingerprintBaseException;

  private static native void innerEntries(long handle, Consumer<Entry> out)
      throws FingerprintBaseException;

  private static native Thresholds innerThresholds(long handle) throws FingerprintBaseException;

  private static native void innerCompact(long handle) throws FingerprintBaseException;
}
