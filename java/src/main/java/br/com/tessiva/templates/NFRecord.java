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
    int[] v = innerPackItems(data, MINUTIA);
    List<NFMinutia> items = new ArrayList<>(v.length / 7);
    for (int at = 0; at < v.length; at += 7) {
      NFMinutia m = new NFMinutia();
      m.X = v[at];
      m.Y = v[at + 1];
      m.setType(v[at + 2]);
      m.Angle = v[at + 3];
      m.Quality = v[at + 4];
      m.Curvature = v[at + 5];
      m.G = v[at + 6];
      items.add(m);
    }
    return Collections.unmodifiableList(items);
  }

  /** {@return the cores of the record, in its order} */
  public List<NFCore> getCores() {
    int[] v = innerPackItems(data, CORE);
    List<NFCore> items = new ArrayList<>(v.length / 3);
    for (int at = 0; at < v.length; at += 3) {
      NFCore c = new NFCore();
      c.X = v[at];
      c.Y = v[at + 1];
      c.Angle = v[at + 2];
      items.add(c);
    }
    return Collections.unmodifiableList(items);
  }

  /** {@return the deltas of the record, in its order} */
  public List<NFDelta> getDeltas() {
    int[] v = innerPackItems(data, DELTA);
    List<NFDelta> items = new ArrayList<>(v.length / 5);
    for (int at = 0; at < v.length; at += 5) {
      NFDelta d = new NFDelta();
      d.X = v[at];
      d.Y = v[at + 1];
      d.Angle1 = v[at + 2];
      d.Angle2 = v[at + 3];
      d.Angle3 = v[at + 4];
      items.add(d);
    }
    return Collections.unmodifiableList(items);
  }

  /** {@return the double cores of the record, in its order} */
  public List<NFDoubleCore> getDoubleCores() {
    int[] v = innerPackItems(data, DOUBLE_CORE);
    List<NFDoubleCore> items = new ArrayList<>(v.length / 2);
    for (int at = 0; at < v.length; at += 2) {
      NFDoubleCore d = new NFDoubleCore();
      d.X = v[at];
      d.Y = v[at + 1];
      items.add(d);
    }
    return Collections.unmodifiableList(items);
  }

  /** {@return the number of minutiae the record announces} */
  public int getMinutiaCount() {
    return innerGetItemCount(MINUTIA);
  }

  // The items of `type` read by the filling road: objects made here, their fields set by the
  // library one by one. The getters read the same items through innerPackItems; a test holds the
  // two roads to each other.
  <T extends NFItem> List<T> readByFilling(int type, Supplier<T> factory) {
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

  // The values of every item of `type` in `data` that lies wholly inside it, one item after the
  // other: minutia X, Y, type, Angle, Quality, Curvature, G; core X, Y, Angle; delta X, Y, Angle1,
  // Angle2, Angle3; double core X, Y. Empty when the record or the block cannot be reached.
  static native int[] innerPackItems(byte[] data, int type);

  // The count byte of the block of `type` (0 minutiae, 1 cores, 2 deltas, 3 double cores); 0 when
  // the record or the block cannot be reached.
  native int innerGetItemCount(int type);

  // Fills items[0], items[1], ... with the items of `type` in record order.
  native void innerFillItems(int type, Object[] items);
}
