package br.com.tessiva.templates;

import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Reading minutiae through NFRecord.getMinutiae (the record decoded natively in one call, the items
 * made in Java) against a peer that decodes the same bytes in Java, and the filling road (one
 * field lookup per field of every item) beside them. Not a test: run it by hand, see
 * java/CMakeLists.txt.
 */
public final class NFRecordBench {
  private NFRecordBench() {}

  static byte[] record(int count, int flags) {
    int stride = 4 + Integer.bitCount(flags & 7);
    byte[] b = new byte[29 + count * stride + 2];
    b[22] = (byte) flags;
    b[24] = (byte) count;
    b[25] = (byte) stride;
    for (int i = 0; i < count; i++) {
      int w = (i * 7 % 2048) << 21 | (i * 13 % 2048) << 10 | (i & 3) << 8 | (i & 0xFF);
      int at = 26 + i * stride;
      for (int k = 0; k < 4; k++) b[at + k] = (byte) (w >>> (8 * k));
    }
    return b;
  }

  // The peer: the same layout decoded in Java, into plain int arrays.
  static List<int[]> decodeInJava(byte[] b) {
    int flags = b[22] & 0xFF;
    int count = b[24] & 0xFF;
    int stride = 4 + Integer.bitCount(flags & 7);
    List<int[]> out = new ArrayList<>(count);
    for (int i = 0, at = 26; i < count && at + stride <= b.length; i++, at += stride) {
      int w = (b[at] & 0xFF) | (b[at + 1] & 0xFF) << 8 | (b[at + 2] & 0xFF) << 16
          | (b[at + 3] & 0xFF) << 24;
      int next = at + 4;
      int q = (flags & 1) != 0 ? b[next++] & 0xFF : 255;
      int c = (flags & 2) != 0 ? b[next++] & 0xFF : 255;
      int g = (flags & 4) != 0 ? b[next] & 0xFF : 255;
      out.add(new int[] {w >>> 21 & 0x7FF, w >>> 10 & 0x7FF, w >>> 8 & 3, w & 0xFF, q, c, g});
    }
    return out;
  }

  // Thread CPU time per record, the median of seven timed runs after a warm-up: on a shared
  // machine the time other processes take is not counted.
  static double nanosPerRecord(Runnable r, int rounds) {
    ThreadMXBean clock = ManagementFactory.getThreadMXBean();
    for (int i = 0; i < rounds / 4; i++) r.run(); // warm-up
    double[] runs = new double[7];
    for (int k = 0; k < runs.length; k++) {
      long start = clock.getCurrentThreadCpuTime();
      for (int i = 0; i < rounds; i++) r.run();
      runs[k] = (clock.getCurrentThreadCpuTime() - start) / (double) rounds;
    }
    Arrays.sort(runs);
    return runs[runs.length / 2];
  }

  public static void main(String[] args) {
    int rounds = args.length > 0 ? Integer.parseInt(args[0]) : 20000;
    int[] counts = {10, 60, 255};
    // Every road at every size first: the JIT compiles a road once it has
    // run often enough, and the first size timed would otherwise pay for
    // the interpreter (it read 2 us for 10 minutiae, the peer's too).
    int[] warm = new int[1];
    for (int count : counts) {
      NFRecord record = new NFRecord(record(count, 7));
      byte[] bytes = record.getData();
      for (int i = 0; i < rounds; i++) {
        warm[0] += record.getMinutiae().size() + decodeInJava(bytes).size();
      }
    }
    for (int count : counts) {
      NFRecord record = new NFRecord(record(count, 7));
      byte[] bytes = record.getData();
      int[] sink = new int[1];
      double jni = nanosPerRecord(() -> sink[0] += record.getMinutiae().size(), rounds);
      double peer = nanosPerRecord(() -> sink[0] += decodeInJava(bytes).size(), rounds);
      double filling = nanosPerRecord(
          () -> sink[0] += record.readByFilling(NFRecord.MINUTIA, NFMinutia::new).size(),
          rounds / 8);
      System.out.printf(
          "%3d minutiae: native read %9.0f ns/record (%6.0f ns/item), Java peer %7.0f ns/record,"
              + " ratio %.1fx; filling road %9.0f ns/record%n",
          count, jni, jni / count, peer, jni / peer, filling);
      if (sink[0] == 42 || warm[0] == 42) System.out.println();
    }
  }
}
