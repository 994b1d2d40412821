package br.com.tessiva.cli;

import br.com.tessiva.images.NImage;
import java.awt.color.ColorSpace;
import java.awt.image.BufferedImage;
import java.awt.image.ColorModel;
import java.awt.image.IndexColorModel;
import java.awt.image.Raster;
import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import javax.imageio.ImageIO;

/**
 * Gray pictures in and out of files for the commands.
 *
 * <p>Reading: the kind is told by the file's first bytes, not its name. A BMP must be an
 * uncompressed 8-bit file with a gray colour table (red = green = blue in every entry); it is read
 * by {@link NImage}, and a table that is gray but not the identity ramp is applied to the pixels.
 * A PNG of any kind is read with javax.imageio: gray samples of any depth are scaled to 0..255;
 * colour, palette and alpha pictures are converted to gray by their luma (0.299 R + 0.587 G +
 * 0.114 B) over a white background.
 */
final class GrayImages {
  private GrayImages() {}

  /** The gray picture in {@code file}; every problem with it is a failure naming the file. */
  static NImage read(Path file) throws CliException {
    byte[] bytes = readFile(file);
    if (bytes.length >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return readBmp(file, bytes);
    if (bytes.length >= 8 && (bytes[0] & 0xFF) == 0x89 && bytes[1] == 'P' && bytes[2] == 'N'
        && bytes[3] == 'G') {
      return readPng(file, bytes);
    }
    throw CliException.failure(file + ": not a BMP or PNG file");
  }

  /** The bytes of {@code file}, with a missing or unreadable file as a one-line failure. */
  static byte[] readFile(Path file) throws CliException {
    try {
      return Files.readAllBytes(file);
    } catch (NoSuchFileException e) {
      throw CliException.failure(file + ": no such file");
    } catch (IOException | OutOfMemoryError e) {
      throw CliException.failure(file + ": cannot read: " + Dactyra.describe(e));
    }
  }

  private static NImage readBmp(Path file, byte[] bmp) throws CliException {
    // The header fields are checked here only to say what is wrong; NImage does the decoding.
    if (bmp.length >= 30) {
      int bits = u16(bmp, 28);
      if (bits != 8) {
        throw CliException.failure(file + ": not an 8-bit gray BMP (" + bits + " bits per pixel)");
      }
    }
    NImage image;
    try {
      image = NImage.fromBMP(bmp);
    } catch (IOException e) {
      throw CliException.failure(file + ": not an 8-bit gray BMP (" + e.getMessage() + ")");
    }
    // The colour table: 4 bytes (blue, green, red, 0) per entry after the info header.
    long infoSize = u32(bmp, 14);
    long used = bmp.length >= 50 ? u32(bmp, 46) : 0;
    int entries = (int) (used == 0 || used > 256 ? 256 : used);
    long start = 14 + infoSize;
    int[] table = new int[256];
    boolean identity = true;
    for (int i = 0; i < 256; i++) {
      table[i] = i;
      long at = start + 4L * i;
      if (i >= entries || at + 3 > bmp.length) continue;
      int b = bmp[(int) at] & 0xFF;
      int g = bmp[(int) at + 1] & 0xFF;
      int r = bmp[(int) at + 2] & 0xFF;
      if (r != g || g != b) {
        throw CliException.failure(file + ": not an 8-bit gray BMP (its colour table has colours)");
      }
      table[i] = r;
      identity &= r == i;
    }
    if (!identity) {
      byte[] p = image.buffer;
      for (int i = 0; i < p.length; i++) p[i] = (byte) table[p[i] & 0xFF];
    }
    return image;
  }

  private static NImage readPng(Path file, byte[] png) throws CliException {
    BufferedImage img;
    try {
      img = ImageIO.read(new ByteArrayInputStream(png));
    } catch (IOException | RuntimeException e) {
      throw CliException.failure(file + ": not a readable PNG (" + Dactyra.describe(e) + ")");
    }
    if (img == null) throw CliException.failure(file + ": not a readable PNG");
    int w = img.getWidth();
    int h = img.getHeight();
    if ((long) w * h > Integer.MAX_VALUE - 8) {
      throw CliException.failure(file + ": too large (" + w + " x " + h + ")");
    }
    byte[] pixels = new byte[w * h];
    ColorModel cm = img.getColorModel();
    Raster raster = img.getRaster();
    if (cm.getColorSpace().getType() == ColorSpace.TYPE_GRAY && !(cm instanceof IndexColorModel)) {
      // Gray samples as they are: the RGB view would pass them through a colour conversion.
      double grayScale = 255.0 / ((1L << cm.getComponentSize(0)) - 1);
      double alphaScale = cm.hasAlpha() ? 255.0 / ((1L << cm.getComponentSize(1)) - 1) : 0;
      for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
          double v = raster.getSample(x, y, 0) * grayScale;
          double a = cm.hasAlpha() ? raster.getSample(x, y, 1) * alphaScale : 255;
          pixels[y * w + x] = (byte) Math.round((v * a + 255 * (255 - a)) / 255);
        }
      }
    } else {
      for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
          int argb = img.getRGB(x, y);
          double a = argb >>> 24;
          double luma = 0.299 * (argb >> 16 & 0xFF) + 0.587 * (argb >> 8 & 0xFF)
              + 0.114 * (argb & 0xFF);
          pixels[y * w + x] = (byte) Math.round((luma * a + 255 * (255 - a)) / 255);
        }
      }
    }
    return new NImage(w, h, pixels);
  }

  /** Writes {@code width} × {@code height} gray levels as an 8-bit gray PNG to {@code out}. */
  static void writePng(int width, int height, byte[] pixels, OutputStream out) throws IOException {
    BufferedImage img = new BufferedImage(width, height, BufferedImage.TYPE_BYTE_GRAY);
    img.getRaster().setDataElements(0, 0, width, height, pixels);
    if (!ImageIO.write(img, "png", out)) throw new IOException("no PNG writer in this Java runtime");
  }

  private static int u16(byte[] b, int at) {
    return (b[at] & 0xFF) | (b[at + 1] & 0xFF) << 8;
  }

  private static long u32(byte[] b, int at) {
    if (at + 4 > b.length) return 0;
    return (u16(b, at) | (long) u16(b, at + 2) << 16);
  }
}
