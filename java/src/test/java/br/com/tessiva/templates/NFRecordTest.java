package br.com.tessiva.templates;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.Test;

class NFRecordTest {
  /** Builds records: header, flags, minutiae, the skipped block, then raw bytes. */
  static final class Rec {
    private final ByteArrayOutputStream out = new ByteArrayOutputStream();

    Rec(int flags, int count, int size, int... minutiae) {
      for (int i = 0; i < 22; i++) out.write(0xAA);
      out.write(flags);
      out.write(0);
      out.write(count);
      out.write(size);
      bytes(minutiae);
    }

    Rec skipped(int m) {
      out.write(0);
      out.write(m & 0xFF);
      out.write((m >> 8) & 0xFF);
      for (int i = 0; i < m; i++) out.write(0xDD);
      return this;
    }

    Rec bytes(int... b) {
      for (int x : b) out.write(x);
      return this;
    }

    byte[] get() {
      return out.toByteArray();
    }

    NFRecord record() {
      return new NFRecord(get());
    }
  }

  static NFMinutia minutia(int x, int y, int type, int angle, int q, int c, int g) {
    NFMinutia m = new NFMinutia();
    m.X = x;
    m.Y = y;
    m.setType(type);
    m.Angle = angle;
    m.Quality = q;
    m.Curvature = c;
    m.G = g;
    return m;
  }

  @Test
  void minutiaExample() {
    NFRecord r = new Rec(0, 2, 4, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF).record();
    assertEquals(
        List.of(minutia(145, 1301, 2, 120, 255, 255, 255), minutia(2047, 2047, 3, 255, 255, 255, 255)),
        r.getMinutiae());
  }

  @Test
  void optionalBytesInFlagOrder() {
    // Flags 5: quality and G, stride 6.
    NFRecord r = new Rec(5, 2, 6, 0, 0, 0, 0, 10, 20, 1, 0, 0, 0, 30, 40).record();
    assertEquals(
        List.of(minutia(0, 0, 0, 0, 10, 255, 20), minutia(0, 0, 0, 1, 30, 255, 40)),
        r.getMinutiae());
    r = new Rec(7, 1, 7, 0, 0, 0, 0, 1, 2, 3).record();
    assertEquals(List.of(minutia(0, 0, 0, 0, 1, 2, 3)), r.getMinutiae());
  }

  static byte[] allBlocks() {
    return new Rec(0, 1, 4, 1, 2, 3, 4)
        .skipped(3)
        // two cores of 5 bytes
        .bytes(2, 5, 0x11, 0, 0, 0, 0xEE, 0x22, 0, 0x20, 0, 0xEE)
        // one delta of 8 bytes: w, then three angles
        .bytes(1, 8, 0x00, 0x04, 0x20, 0x00, 7, 8, 9, 0xEE)
        // two double cores in a block of size byte 4
        .bytes(2, 4, 0, 0, 0x20, 0, 0, 0, 0x40, 0)
        .get();
  }

  @Test
  void everyBlockWithItsStride() {
    NFRecord r = new NFRecord(allBlocks());
    List<NFCore> cores = r.getCores();
    assertEquals(2, cores.size());
    assertEquals(0x11, cores.get(0).getAngle());
    assertEquals(0x22, cores.get(1).getAngle());
    assertEquals(1, cores.get(1).getX());
    List<NFDelta> deltas = r.getDeltas();
    assertEquals(1, deltas.size());
    NFDelta d = deltas.get(0);
    assertEquals(List.of(1, 1, 7, 8, 9),
        List.of(d.getX(), d.getY(), d.getAngle1(), d.getAngle2(), d.getAngle3()));
    List<NFDoubleCore> doubles = r.getDoubleCores();
    assertEquals(2, doubles.size());
    assertEquals(1, doubles.get(0).getX());
    assertEquals(2, doubles.get(1).getX());
  }

  @Test
  void recordsOf25And26Bytes() {
    byte[] b25 = new byte[25];
    b25[24] = 3;
    NFRecord r = new NFRecord(b25);
    for (int t = -1; t <= 4; t++) assertEquals(0, r.innerGetItemCount(t));
    assertTrue(r.getMinutiae().isEmpty());
    byte[] b26 = new byte[26];
    b26[24] = 3;
    b26[25] = 4;
    r = new NFRecord(b26);
    assertEquals(3, r.innerGetItemCount(0), "the count byte, though no minutia fits");
    assertEquals(3, r.getMinutiaCount());
    assertTrue(r.getMinutiae().isEmpty(), "none lies inside the record");
    for (int t = 1; t <= 3; t++) assertEquals(0, r.innerGetItemCount(t));
  }

  @Test
  void coreHeaderAtTheLastByte() {
    NFRecord r = new Rec(0, 0, 0).skipped(0).bytes(3).record();
    assertEquals(30, r.getData().length);
    for (int t = 1; t <= 3; t++) assertEquals(0, r.innerGetItemCount(t));
    assertTrue(r.getCores().isEmpty());
  }

  @Test
  void unknownTypesAndNullData() {
    NFRecord r = new NFRecord(allBlocks());
    NFMinutia untouched = new NFMinutia();
    for (int t : new int[] {-1, 4, Integer.MIN_VALUE}) {
      assertEquals(0, r.innerGetItemCount(t));
      r.innerFillItems(t, new Object[] {untouched});
      assertEquals(-1, untouched.getX());
    }
    NFRecord none = NFRecord.of(null);
    assertEquals(0, none.innerGetItemCount(0));
    none.innerFillItems(0, new Object[] {untouched});
    assertEquals(-1, untouched.getX());
    r.innerFillItems(0, null); // nothing to fill into, nothing happens
  }

  @Test
  void recordsThatLieYieldWhatTheyHold() {
    // Five cores announced, one present; a negative block length pointing
    // before the start reaches nothing.
    NFRecord r = new Rec(0, 0, 0).skipped(0).bytes(5, 4, 9, 0, 0, 0, 1).record();
    assertEquals(5, r.innerGetItemCount(1));
    assertEquals(1, r.getCores().size());
    r = new Rec(0, 0, 0).bytes(0, 0xE2, 0xFF).bytes(2, 2, 0, 0, 0, 0, 0, 0).record();
    for (int t = 1; t <= 3; t++) assertEquals(0, r.innerGetItemCount(t));
    // 255 minutiae announced by a record of 26 bytes.
    byte[] b = new byte[26];
    b[24] = (byte) 255;
    b[25] = (byte) 255;
    assertEquals(255, new NFRecord(b).innerGetItemCount(0));
    assertTrue(new NFRecord(b).getMinutiae().isEmpty());
  }

  @Test
  void manyItemsInOneCall() {
    Rec rec = new Rec(7, 255, 7);
    for (int i = 0; i < 255; i++) rec.bytes(i, 0, 0, 0, 1, 2, 3);
    List<NFMinutia> m = rec.skipped(0).record().getMinutiae();
    assertEquals(255, m.size());
    assertEquals(254, m.get(254).getAngle());
  }

  /** A minutia class without the field Quality. */
  static final class NoQuality {
    int X = -1, Y = -1, Angle = -1, Curvature = -1, G = -1;
    int type = -1;

    void setType(int t) {
      type = t;
    }
  }

  @Test
  void missingFieldStopsTheFillingAtThatItem() {
    NFRecord r = new Rec(0, 3, 4, 1, 0, 0x20, 0, 2, 0, 0x40, 0, 3, 0, 0x60, 0).record();
    NFMinutia first = new NFMinutia();
    NoQuality second = new NoQuality();
    NFMinutia third = new NFMinutia();
    assertThrows(NoSuchFieldError.class, () -> r.innerFillItems(0, new Object[] {first, second, third}));
    assertEquals(minutia(1, 0, 0, 1, 255, 255, 255), first);
    assertEquals(List.of(2, 0, 0, 2, -1),
        List.of(second.X, second.Y, second.type, second.Angle, second.Curvature),
        "the fields before Quality are set");
    assertEquals(-1, third.getX(), "nothing after the failing item");
  }

  /** A minutia class without setType. */
  static final class NoSetType {
    int X = -1, Y = -1, Angle = -1, Quality = -1, Curvature = -1, G = -1;
  }

  @Test
  void missingSetTypeStillSetsTheOtherFields() {
    NFRecord r = new Rec(1, 1, 5, 0x78, 0x56, 0x34, 0x12, 9).record();
    NoSetType item = new NoSetType();
    r.innerFillItems(0, new Object[] {item});
    assertEquals(List.of(145, 1301, 120, 9, 255, 255),
        List.of(item.X, item.Y, item.Angle, item.Quality, item.Curvature, item.G));
  }

  static final class ThrowingSetType {
    int X = -1, Y = -1, Angle = -1, Quality = -1, Curvature = -1, G = -1;

    void setType(int t) {
      throw new IllegalStateException("type " + t);
    }
  }

  @Test
  void exceptionFromSetTypeReachesTheCaller() {
    NFRecord r = new Rec(0, 1, 4, 0x78, 0x56, 0x34, 0x12).record();
    ThrowingSetType item = new ThrowingSetType();
    IllegalStateException e =
        assertThrows(IllegalStateException.class, () -> r.innerFillItems(0, new Object[] {item}));
    assertEquals("type 2", e.getMessage());
    assertEquals(-1, item.Angle, "the filling stopped");
  }

  @Test
  void callerErrorsInTheItemArray() {
    NFRecord r = new Rec(0, 2, 4, 0, 0, 0, 0, 0, 0, 0, 0).record();
    IllegalArgumentException e = assertThrows(IllegalArgumentException.class,
        () -> r.innerFillItems(0, new Object[] {new NFMinutia()}));
    assertEquals("The item array holds 1 objects for 2 items", e.getMessage());
    NFMinutia first = new NFMinutia();
    e = assertThrows(IllegalArgumentException.class,
        () -> r.innerFillItems(0, new Object[] {first, null}));
    assertEquals("Item object 1 is null", e.getMessage());
    assertEquals(0, first.getX(), "the item before it is filled");
    // An item object of another kind: a core lacks the minutia fields.
    assertThrows(NoSuchFieldError.class,
        () -> r.innerFillItems(0, new Object[] {new NFCore(), new NFCore()}));
  }

  /** A record with every block present or cut short, its counts and lengths drawn at random. */
  static byte[] randomRecord(Random random) {
    int flags = random.nextInt(256);
    int count = random.nextInt(48);
    int stride = 4 + Integer.bitCount(flags & 7);
    Rec rec = new Rec(flags, count, stride);
    for (int i = 0; i < count * stride; i++) rec.bytes(random.nextInt(256));
    rec.skipped(random.nextInt(8) == 0 ? -random.nextInt(64) : random.nextInt(16));
    for (int block = 0; block < 3; block++) {
      int n = random.nextInt(6);
      int size = 2 + random.nextInt(8);
      rec.bytes(n, size);
      for (int i = 0; i < n * size; i++) rec.bytes(random.nextInt(256));
    }
    byte[] whole = rec.get();
    // Often cut anywhere, so that items and block headers fall off the end.
    return random.nextBoolean() ? whole : Arrays.copyOf(whole, random.nextInt(whole.length + 1));
  }

  @Test
  void theGettersReadWhatTheFillingRoadFills() {
    Random random = new Random(20261210);
    int reached = 0;
    for (int i = 0; i < 3000; i++) {
      NFRecord r = new NFRecord(randomRecord(random));
      String what = "record " + i;
      assertEquals(r.readByFilling(0, NFMinutia::new), r.getMinutiae(), what);
      assertEquals(r.readByFilling(1, NFCore::new), r.getCores(), what);
      assertEquals(r.readByFilling(2, NFDelta::new), r.getDeltas(), what);
      assertEquals(r.readByFilling(3, NFDoubleCore::new), r.getDoubleCores(), what);
      if (!r.getDoubleCores().isEmpty()) reached++;
    }
    assertTrue(reached > 100, "the random records reach the last block: " + reached);
    for (int t : new int[] {-1, 4, Integer.MIN_VALUE}) {
      assertEquals(0, NFRecord.innerPackItems(allBlocks(), t).length);
    }
    assertEquals(0, NFRecord.innerPackItems(null, 0).length);
  }

  @Test
  void readsFromManyThreadsAtOnce() throws Exception {
    NFRecord r = new NFRecord(allBlocks());
    String expected = r.getCores() + "" + r.getDeltas() + r.getDoubleCores() + r.getMinutiae();
    ExecutorService pool = Executors.newFixedThreadPool(4);
    try {
      List<Future<String>> results = new ArrayList<>();
      for (int i = 0; i < 64; i++) {
        results.add(pool.submit(
            () -> r.getCores() + "" + r.getDeltas() + r.getDoubleCores() + r.getMinutiae()));
      }
      for (Future<String> f : results) assertEquals(expected, f.get());
    } finally {
      pool.shutdown();
    }
  }

  @Test
  void theRecordIsKeptAsACopy() {
    byte[] bytes = allBlocks();
    NFRecord r = new NFRecord(bytes);
    bytes[24] = 0;
    assertEquals(1, r.getMinutiaCount());
    r.getData()[24] = 0;
    assertEquals(1, r.getMinutiaCount());
  }
}
