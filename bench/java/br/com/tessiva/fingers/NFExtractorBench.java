package br.com.tessiva.fingers;

import br.com.tessiva.images.NImage;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.file.Paths;
import java.util.Arrays;

/**
 * NFExtractor.innerExtract from Java on one 8-bit BMP image, whatever engine lies beside the
 * library: with the open engine it is the Java side of the comparison with calling the engine
 * directly (extractor_benchmark); with the recording engine, which does next to nothing, it is the
 * library's own cost (JNI, pixel and record copies, record allocation). Not a test: see
 * bench/CMakeLists.txt.
 *
 * <p>Arguments: the BMP file, the number of timed calls. Reports wall time and the calling thread's
 * CPU time (the engine runs on it), the latter being what a loaded machine leaves comparable.
 */
public final class NFExtractorBench {
  private NFExtractorBench() {}

  public static void main(String[] args) throws Exception {
    NImage image = NImage.read(Paths.get(args[0]));
    int rounds = Integer.parseInt(args[1]);
    try (NFExtractor extractor = new NFExtractor()) {
      for (int i = 0; i < Math.max(3, rounds / 5); i++) {
        extractor.innerExtract(image, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN);
      }
      ThreadMXBean threads = ManagementFactory.getThreadMXBean();
      long[] nanos = new long[rounds];
      long[] cpu = new long[rounds];
      int sink = 0;
      for (int i = 0; i < rounds; i++) {
        long cpuStart = threads.getCurrentThreadCpuTime();
        long start = System.nanoTime();
        byte[] record = extractor.innerExtract(image, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN);
        nanos[i] = System.nanoTime() - start;
        cpu[i] = threads.getCurrentThreadCpuTime() - cpuStart;
        sink += record.length;
      }
      Arrays.sort(nanos);
      Arrays.sort(cpu);
      System.out.printf("innerExtract %d x %d over %d calls: wall median %.4f ms, mean %.4f ms;"
          + " CPU median %.4f ms, mean %.4f ms (%d)%n", image.width, image.height, rounds,
          nanos[rounds / 2] / 1e6, Arrays.stream(nanos).average().orElse(0) / 1e6,
          cpu[rounds / 2] / 1e6, Arrays.stream(cpu).average().orElse(0) / 1e6, sink);
    }
  }
}
