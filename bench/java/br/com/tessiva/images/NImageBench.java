package br.com.tessiva.images;

import java.awt.image.BufferedImage;
import java.awt.image.IndexColorModel;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.util.Arrays;
import java.util.Random;
import javax.imageio.ImageIO;

/**
 * NImage's BMP codec against javax.imageio on the same bytes, with a bare copy of the file bytes
 * as the floor. Each case is warmed up, then timed in batches; the figure is the median time per
 * operation over the batches.
 *
 * <p>Usage: java -Djava.library.path=... -cp dactyra.jar:bench NImageBench [batches] [warm-up ms]
 */
public final class NImageBench {
  interface Op {
    int run() throws Exception;
  }

  static volatile int sink;

  static double medianNanos(Op op, int batches, long warmupMillis) throws Exception {
    long until = System.nanoTime() + warmupMillis * 1_000_000L;
    int perBatch = 1;
    while (System.nanoTime() < until) {
      long start = System.nanoTime();
      for (int i = 0; i < perBatch; i++) sink += op.run();
      // Grow batches to about 20 ms so timer resolution does not matter.
      if (System.nanoTime() - start < 20_000_000L)
        perBatch *= 2;
    }
    double[] perOp = new double[batches];
    for (int b = 0; b < batches; b++) {
      long start = System.nanoTime();
      for (int i = 0; i < perBatch; i++) sink += op.run();
      perOp[b] = (double) (System.nanoTime() - start) / perBatch;
    }
    Arrays.sort(perOp);
    return perOp[batches / 2];
  }

  static String micros(double nanos) {
    return String.format("%10.1f us", nanos / 1000.0);
  }

  public static void main(String[] args) throws Exception {
    int batches = args.length > 0 ? Integer.parseInt(args[0]) : 15;
    long warmup = args.length > 1 ? Long.parseLong(args[1]) : 2000;
    System.out.printf(
        "NImage BMP codec vs ImageIO, median of %d batches after %d ms warm-up%n", batches, warmup);
    System.out.printf("%-9s %-14s %13s %13s %13s %9s %9s%n", "size", "operation", "NImage",
        "ImageIO", "copyOf", "IIO/NImg", "NImg/copy");
    for (int[] size : new int[][] {{320, 365}, {500, 500}}) {
      run(size[0], size[1], batches, warmup);
    }
  }

  static void run(int width, int height, int batches, long warmup) throws Exception {
    byte[] pixels = new byte[width * height];
    new Random(width).nextBytes(pixels);
    NImage picture = new NImage(width, height, pixels);
    BufferedImage gray = new BufferedImage(width, height, BufferedImage.TYPE_BYTE_GRAY);
    gray.getRaster().setDataElements(0, 0, width, height, pixels);
    byte[] bmp = picture.saveBMP();
    check(bmp, gray);

    NImage target = new NImage();
    double load = medianNanos(() -> {
      target.loadBMP(bmp);
      return target.buffer.length;
    }, batches, warmup);
    double read =
        medianNanos(() -> ImageIO.read(new ByteArrayInputStream(bmp)).getWidth(), batches, warmup);
    double copy = medianNanos(() -> Arrays.copyOf(bmp, bmp.length).length, batches, warmup);
    double save = medianNanos(() -> picture.saveBMP().length, batches, warmup);
    double write = medianNanos(() -> {
      ByteArrayOutputStream out = new ByteArrayOutputStream(bmp.length);
      ImageIO.write(gray, "bmp", out);
      return out.size();
    }, batches, warmup);

    String label = width + "x" + height;
    System.out.printf("%-9s %-14s %s %s %s %8.1fx %8.2fx%n", label, "load / read", micros(load),
        micros(read), micros(copy), read / load, load / copy);
    System.out.printf("%-9s %-14s %s %s %s %8.1fx %8.2fx%n", label, "save / write", micros(save),
        micros(write), micros(copy), write / save, save / copy);
  }

  /** Both codecs must agree on the picture before their speed means anything. */
  static void check(byte[] bmp, BufferedImage gray) throws Exception {
    NImage loaded = new NImage();
    loaded.loadBMP(bmp);
    BufferedImage read = ImageIO.read(new ByteArrayInputStream(bmp));
    for (int y = 0; y < gray.getHeight(); y++) {
      for (int x = 0; x < gray.getWidth(); x++) {
        int level = gray.getRaster().getSample(x, y, 0);
        if (loaded.getPixel(x, y) != level || grayLevel(read, x, y) != level) {
          throw new IOException("codecs disagree at (" + x + ", " + y + ")");
        }
      }
    }
  }

  /** ImageIO's gray images hold the level as the sample; getRGB would apply a gamma. */
  static int grayLevel(BufferedImage image, int x, int y) {
    int sample = image.getRaster().getSample(x, y, 0);
    if (image.getColorModel() instanceof IndexColorModel) {
      return ((IndexColorModel) image.getColorModel()).getRed(sample);
    }
    return sample;
  }

  private NImageBench() {}
}
