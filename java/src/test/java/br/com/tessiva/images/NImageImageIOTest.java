package br.com.tessiva.images;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.awt.color.ColorSpace;
import java.awt.image.BufferedImage;
import java.awt.image.ColorModel;
import java.awt.image.IndexColorModel;
import java.awt.image.Raster;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Random;
import java.util.stream.Stream;
import javax.imageio.ImageIO;
import org.junit.jupiter.api.Test;

/** NImage against the JDK's own BMP codec, and BMP Suite read by both. */
class NImageImageIOTest {
  static Path suite() {
    String dir = System.getProperty("dactyra.bmpsuite", System.getenv("DACTYRA_BMPSUITE"));
    assertNotNull(dir, "DACTYRA_BMPSUITE (or -Ddactyra.bmpsuite) names the BMP Suite folder");
    Path path = Path.of(dir);
    assertTrue(Files.isDirectory(path.resolve("g")), "no BMP Suite at " + path);
    return path;
  }

  static BufferedImage grayPicture(int width, int height, long seed) {
    BufferedImage picture = new BufferedImage(width, height, BufferedImage.TYPE_BYTE_GRAY);
    Random random = new Random(seed);
    for (int y = 0; y < height; y++) {
      for (int x = 0; x < width; x++) picture.getRaster().setSample(x, y, 0, random.nextInt(256));
    }
    return picture;
  }

  static byte[] imageIoBmp(BufferedImage picture) throws IOException {
    ByteArrayOutputStream out = new ByteArrayOutputStream();
    assertTrue(ImageIO.write(picture, "bmp", out), "ImageIO has a BMP writer");
    return out.toByteArray();
  }

  @Test
  void grayPictureWrittenByImageIoLoadsWithItsGrayLevels() throws Exception {
    for (int[] size : new int[][] {{1, 1}, {3, 2}, {127, 64}, {320, 365}}) {
      BufferedImage picture = grayPicture(size[0], size[1], size[0] * 31L + size[1]);
      NImage image = new NImage();
      image.loadBMP(imageIoBmp(picture));
      assertEquals(size[0], image.width);
      assertEquals(size[1], image.height);
      Raster raster = picture.getRaster();
      for (int y = 0; y < size[1]; y++) {
        for (int x = 0; x < size[0]; x++) {
          assertEquals(raster.getSample(x, y, 0), image.getPixel(x, y), "(" + x + ", " + y + ")");
        }
      }
    }
  }

  @Test
  void fileSavedByNImageReadsBackThroughImageIo() throws Exception {
    for (int[] size : new int[][] {{1, 1}, {3, 2}, {5, 7}, {320, 365}, {500, 500}}) {
      byte[] pixels = NImageTest.randomPixels(size[0], size[1], size[0]);
      byte[] bmp = new NImage(size[0], size[1], pixels).saveBMP();
      BufferedImage read = ImageIO.read(new ByteArrayInputStream(bmp));
      assertNotNull(read, "ImageIO recognises the file");
      assertEquals(size[0], read.getWidth());
      assertEquals(size[1], read.getHeight());
      for (int y = 0; y < size[1]; y++) {
        for (int x = 0; x < size[0]; x++) {
          int level = pixels[y * size[0] + x] & 0xFF;
          assertEquals(level, grayLevel(read, x, y), "(" + x + ", " + y + ")");
        }
      }
    }
  }

  /**
   * The gray level ImageIO decoded at (x, y): the sample of a gray image (getRGB would convert it
   * from linear gray to sRGB), or the colour of an indexed pixel, which must be gray.
   */
  static int grayLevel(BufferedImage image, int x, int y) {
    int sample = image.getRaster().getSample(x, y, 0);
    ColorModel model = image.getColorModel();
    if (model instanceof IndexColorModel) {
      IndexColorModel palette = (IndexColorModel) model;
      assertEquals(palette.getRed(sample), palette.getGreen(sample));
      assertEquals(palette.getRed(sample), palette.getBlue(sample));
      return palette.getRed(sample);
    }
    assertEquals(ColorSpace.TYPE_GRAY, model.getColorSpace().getType(), "a gray image");
    assertEquals(1, image.getRaster().getNumBands());
    return sample;
  }

  static final List<String> GOOD_8_BIT = List.of("g/pal8-0.bmp", "g/pal8.bmp", "g/pal8gs.bmp",
      "g/pal8nonsquare.bmp", "g/pal8os2.bmp", "g/pal8topdown.bmp", "g/pal8v4.bmp", "g/pal8v5.bmp",
      "g/pal8w124.bmp", "g/pal8w125.bmp", "g/pal8w126.bmp");

  /** ImageIO keeps 8-bit palette files indexed: its raster holds the stored indices. */
  @Test
  void good8BitSuiteFilesLoadTheIndicesImageIoReads() throws Exception {
    Path suite = suite();
    for (String name : GOOD_8_BIT) {
      byte[] bytes = Files.readAllBytes(suite.resolve(name));
      BufferedImage reference = ImageIO.read(new ByteArrayInputStream(bytes));
      assertNotNull(reference, name);
      assertTrue(reference.getColorModel() instanceof IndexColorModel, name);
      NImage image = new NImage();
      image.loadBMP(bytes);
      assertEquals(reference.getWidth(), image.width, name);
      assertEquals(reference.getHeight(), image.height, name);
      Raster raster = reference.getRaster();
      byte[] expected = new byte[image.width * image.height];
      for (int y = 0; y < image.height; y++) {
        for (int x = 0; x < image.width; x++) {
          expected[y * image.width + x] = (byte) raster.getSample(x, y, 0);
        }
      }
      assertArrayEquals(expected, image.buffer, name);
    }
    assertArrayEquals(NImage.read(suite.resolve("g/pal8.bmp")).buffer,
        NImage.read(suite.resolve("g/pal8topdown.bmp")).buffer);
  }

  /**
   * The rest of the suite through the VM: the other good files are refused with the fields left
   * alone; questionable and bad files are refused or give the rows their header points at.
   */
  @Test
  void everyOtherSuiteFileIsRefusedOrLoadsItsStoredRows() throws Exception {
    Path suite = suite();
    int refused = 0;
    int loaded = 0;
    for (String dir : new String[] {"g", "q", "b"}) {
      try (Stream<Path> files = Files.list(suite.resolve(dir))) {
        for (Path file : (Iterable<Path>) files.sorted()::iterator) {
          if (GOOD_8_BIT.contains(dir + "/" + file.getFileName()))
            continue;
          byte[] bytes = Files.readAllBytes(file);
          NImage image = new NImage();
          try {
            image.loadBMP(bytes);
          } catch (Exception e) {
            NImageTest.assertRefused(bytes);
            refused++;
            continue;
          }
          assertTrue(!dir.equals("g"), file + " loaded");
          assertEquals(127, image.width, file.toString());
          assertEquals(64, image.height, file.toString());
          assertArrayEquals(storedRows(bytes, 127, 64), image.buffer, file.toString());
          loaded++;
        }
      }
    }
    assertEquals(16 + 53, refused);
    assertEquals(10, loaded);
  }

  /** The rows of a bottom-up 8-bit file at the pixel offset its file header gives. */
  static byte[] storedRows(byte[] file, int width, int height) {
    int offset = NImageTest.u32(file, 10);
    int stride = (width + 3) / 4 * 4;
    byte[] rows = new byte[width * height];
    for (int y = 0; y < height; y++) {
      System.arraycopy(file, offset + (height - 1 - y) * stride, rows, y * width, width);
    }
    return rows;
  }
}
