package br.com.tessiva.templates;

import br.com.tessiva.NativeLibrary;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Objects;
import java.util.function.Supplier;

/**
 * A fingerprint template record, as the extractor returns it, and the features it holds.
 *
 * <p>The record is kept as given; each read walks it afresh. A record too short to hold a block,
 * or whose block lies beyond its end, has no items of that kind; a record that announces more
 * items than it holds yields those it holds. Instances are immutable and may be read from many
 * threads at once.
 */
public final class NFRecord {
  static {
    NativeLibrary.ensureLoaded();
  }

  // Item type codes of the native methods.
  static final int MINUTIA = 0;
  static final int CORE = 1;
  static final int DELTA = 2;
  static final int DOUBLE_CORE = 3;

  // Read by the native library under this name; may be null only through of().
  private final byte[] data;

  /**
   * A record over a copy of {@code data}.
   *
   * @param data the template record bytes
   */
  public NFRecord(byte[] data) {
    this.data = Objects.requireNonNull(data, "data").clone();
  }

  private NFRecord(byte[] data, boolean shared) {
    this.data = data;
  }

  // The record over `data` itself, null allowed.
  static NFRecord of(byte[] data) {
    return new NFRecord(data, true);
  }

  /** {@return a copy of the record bytes} */
  public byte[] getData() {
    return data == null ? null : data.clone();
  }

  /** {@return the minutiae of the record, in its order} */
  public List<NFMinutia> getMinutiae() {
    return read(MINUTIA, NFMinutia::new);
  }

  /** {@return the cores of the record, in its order} */
  public List<NFCore> getCores() {
    return read(CORE, NFCore::new);
  }

  /** {@return the deltas of the record, in its order} */
  public List<NFDelta> getDeltas() {
    return read(DELTA, NFDelta::new);
  }

  /** {@return the double cores of the record, in its order} */
  public List<NFDoubleCore> getDoubleCores() {
    return read(DOUBLE_CORE, NFDoubleCore::new);
  }

  /** {@return the number of minutiae the record announces} */
  public int getMinutiaCount() {
    return innerGetItemCount(MINUTIA);
  }

  private <T extends NFItem> List<T> read(int type, Supplier<T> factory) {
    int count = innerGetItemCount(type);
    List<T> items = new ArrayList<>(count);
    for (int i = 0; i < count; i++) {
      items.add(factory.get());
    }
    innerFillItems(type, items.toArray());
    int filled = 0;
    while (filled < count && items.get(filled).isFilled()) {
      filled++;
    }
    return Collections.unmodifiableList(new ArrayList<>(items.subList(0, filled)));
  }

  // The count byte of the block of `type` (0 minutiae, 1 cores, 2 deltas, 3 double cores); 0 when
  // the record or the block cannot be reached.
  native int innerGetItemCount(int type);

  // Fills items[0], items[1], ... with the items of `type` in record order.
  native void innerFillItems(int type, Object[] items);
}
