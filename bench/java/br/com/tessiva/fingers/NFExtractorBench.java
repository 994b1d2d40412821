package br.com.tessiva.fingers;

import br.com.tessiva.images.NImage;
import java.nio.file.Paths;
import java.util.Arrays;

/**
 * NFExtractor.innerExtract from Java on one 8-bit BMP image, whatever engine lies beside the
 * library: with the open engine it is the Java side of the comparison with calling the engine
 * directly (extract_benchmark); with the recording engine, which does next to nothing, it is the
 * library's own cost (JNI, pixel and record copies, record allocation). Not a test: see
 * bench/CMakeLists.txt.
 *
 * <p>Arguments: the BMP file, the number of timed calls.
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
      long[] nanos = new long[rounds];
      int sink = 0;
      for (int i = 0; i < rounds; i++) {
        long start = System.nanoTime();
        byte[] record = extractor.innerExtract(image, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN);
        nanos[i] = System.nanoTime() - start;
        sink += record.length;
      }
      Arrays.sort(nanos);
      double mean = Arrays.stream(nanos).average().orElse(0);
      System.out.printf("innerExtract %d x %d: median %.4f ms, mean %.4f ms over %d calls (%d)%n",
          image.width, image.height, nanos[rounds / 2] / 1e6, mean / 1e6, rounds, sink);
    }
  }
}
