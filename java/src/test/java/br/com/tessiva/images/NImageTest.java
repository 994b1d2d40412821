package br.com.tessiva.images;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class NImageTest {
  static byte[] randomPixels(int width, int height, long seed) {
    byte[] pixels = new byte[width * height];
    new Random(seed).nextBytes(pixels);
    return pixels;
  }

  static int u32(byte[] b, int at) {
    return ByteBuffer.wrap(b, at, 4).order(ByteOrder.LITTLE_ENDIAN).getInt();
  }

  /** Asserts that loading fails as documented and leaves the fields alone. */
  static void assertRefused(byte[] bmp) {
    NImage image = new NImage(2, 1, new byte[] {7, 8});
    byte[] before = image.buffer;
    Exception e = assertThrows(Exception.class, () -> image.loadBMP(bmp));
    assertSame(Exception.class, e.getClass());
    assertEquals("Wrong file format", e.getMessage());
    assertEquals(2, image.width);
    assertEquals(1, image.height);
    assertSame(before, image.buffer);
    assertArrayEquals(new byte[] {7, 8}, image.buffer);
  }

  @Test
  void saveThenLoadGivesTheSamePicture() throws Exception {
    for (int[] size : new int[][] {{1, 1}, {3, 2}, {37, 23}, {320, 365}, {500, 500}}) {
      NImage saved = new NImage(size[0], size[1], randomPixels(size[0], size[1], size[0]));
      NImage loaded = new NImage();
      loaded.loadBMP(saved.saveBMP());
      assertEquals(saved.width, loaded.width);
      assertEquals(saved.height, loaded.height);
      assertArrayEquals(saved.buffer, loaded.buffer);
    }
  }

  @Test
  void file320By365HasUnpaddedRowsBottomRowFirst() throws Exception {
    byte[] pixels = randomPixels(320, 365, 1);
    byte[] bmp = new NImage(320, 365, pixels).saveBMP();
    assertEquals(1078 + 320 * 365, bmp.length);
    assertEquals(bmp.length, u32(bmp, 2));
    assertEquals(1078, u32(bmp, 10));
    assertEquals(320, u32(bmp, 18));
    assertEquals(365, u32(bmp, 22));
    for (int stored = 0; stored < 365; stored++) {
      int row = 364 - stored;
      assertArrayEquals(Arrays.copyOfRange(pixels, row * 320, row * 320 + 320),
          Arrays.copyOfRange(bmp, 1078 + stored * 320, 1078 + stored * 320 + 320));
    }
  }

  @Test
  void file3By2HasFourByteRows() throws Exception {
    byte[] bmp = new NImage(3, 2, new byte[] {1, 2, 3, 4, 5, 6}).saveBMP();
    assertEquals(1086, bmp.length);
    assertEquals(8, u32(bmp, 34));
    // Bottom row first; the padding byte's value is free.
    assertArrayEquals(new byte[] {4, 5, 6}, Arrays.copyOfRange(bmp, 1078, 1081));
    assertArrayEquals(new byte[] {1, 2, 3}, Arrays.copyOfRange(bmp, 1082, 1085));
  }

  @Test
  void emptyPicturesSaveAsEmptyArrays() throws Exception {
    assertEquals(0, new NImage().saveBMP().length);
    NImage wide = new NImage(5, 0, new byte[0]);
    assertEquals(0, wide.saveBMP().length);
    NImage noBuffer = new NImage();
    noBuffer.buffer = null;
    assertEquals(0, noBuffer.saveBMP().length);
  }

  @Test
  void saveRefusesInconsistentPictures() {
    NImage image = new NImage();
    image.buffer = null;
    image.width = 4;
    image.height = 4;
    assertSame(Exception.class, assertThrows(Exception.class, image::saveBMP).getClass());
    image.buffer = new byte[15];
    Exception shortBuffer = assertThrows(Exception.class, image::saveBMP);
    assertSame(Exception.class, shortBuffer.getClass());
    assertEquals("NImage buffer shorter than width × height", shortBuffer.getMessage());
    image.buffer = new byte[16];
    image.width = -4;
    image.height = -4;
    assertSame(Exception.class, assertThrows(Exception.class, image::saveBMP).getClass());
    image.width = 4;
    image.height = -1;
    assertThrows(Exception.class, image::saveBMP);
    image.width = 65536;
    image.height = 65536;
    assertThrows(Exception.class, image::saveBMP);
    // The picture itself is still usable afterwards.
    image.width = 4;
    image.height = 4;
    image.buffer = new byte[17];
    assertDoesNotThrowSave(image);
  }

  static void assertDoesNotThrowSave(NImage image) {
    try {
      assertEquals(1078 + 16, image.saveBMP().length);
    } catch (Exception e) {
      throw new AssertionError(e);
    }
  }

  @Test
  void loadRefusesWhatIsNoEightBitFile() throws Exception {
    byte[] good = new NImage(5, 3, randomPixels(5, 3, 2)).saveBMP();
    assertRefused(new byte[0]);
    assertRefused(null);
    assertRefused(new byte[] {'B'});
    byte[] signature = good.clone();
    signature[0] = 'M';
    signature[1] = 'B';
    assertRefused(signature);
    for (int bits : new int[] {1, 4, 16, 24, 32}) {
      byte[] depth = good.clone();
      depth[28] = (byte) bits;
      assertRefused(depth);
    }
    byte[] rle = good.clone();
    rle[30] = 1;
    assertRefused(rle);
    assertRefused(Arrays.copyOf(good, good.length - 5));
    // Sizes no 24 KB file can hold are refused, not allocated.
    byte[] huge = Arrays.copyOf(good, 24 * 1024);
    ByteBuffer.wrap(huge)
        .order(ByteOrder.LITTLE_ENDIAN)
        .putInt(18, 3_000_000)
        .putInt(22, 2_000_000);
    assertRefused(huge);
  }

  @Test
  void topDownFileGivesPositiveHeightAndFirstStoredRowOnTop() throws Exception {
    byte[] pixels = randomPixels(6, 4, 5);
    byte[] bmp = new NImage(6, 4, pixels).saveBMP();
    // Flip to top-down storage: negative height, rows in picture order.
    byte[] topDown = bmp.clone();
    ByteBuffer.wrap(topDown).order(ByteOrder.LITTLE_ENDIAN).putInt(22, -4);
    for (int row = 0; row < 4; row++) {
      System.arraycopy(pixels, row * 6, topDown, 1078 + row * 8, 6);
    }
    NImage image = new NImage();
    image.loadBMP(topDown);
    assertEquals(4, image.height);
    assertArrayEquals(pixels, image.buffer);
    assertArrayEquals(Arrays.copyOfRange(topDown, 1078, 1084), Arrays.copyOf(image.buffer, 6));
  }

  @Test
  void callsOnDifferentObjectsRunConcurrently() throws Exception {
    ExecutorService pool = Executors.newFixedThreadPool(4);
    try {
      List<Future<Boolean>> results = new ArrayList<>();
      for (int t = 0; t < 8; t++) {
        final int seed = t;
        Callable<Boolean> job = () -> {
          for (int i = 0; i < 50; i++) {
            int w = 1 + (seed * 7 + i) % 41;
            int h = 1 + (seed * 3 + i) % 29;
            NImage saved = new NImage(w, h, randomPixels(w, h, seed * 1000 + i));
            NImage loaded = new NImage();
            loaded.loadBMP(saved.saveBMP());
            if (loaded.width != w || !Arrays.equals(saved.buffer, loaded.buffer))
              return false;
          }
          return true;
        };
        results.add(pool.submit(job));
      }
      for (Future<Boolean> result : results) assertEquals(Boolean.TRUE, result.get());
    } finally {
      pool.shutdown();
    }
  }

  @Test
  void constructorChecksAndCopies() {
    assertThrows(IllegalArgumentException.class, () -> new NImage(2, 2, new byte[3]));
    assertThrows(IllegalArgumentException.class, () -> new NImage(-1, -1, new byte[1]));
    assertThrows(IllegalArgumentException.class, () -> new NImage(65536, 65536, new byte[0]));
    assertThrows(NullPointerException.class, () -> new NImage(1, 1, null));
    byte[] pixels = {1, 2};
    NImage image = new NImage(2, 1, pixels);
    pixels[0] = 9;
    assertEquals(1, image.getPixel(0, 0));
    assertEquals(2, image.getPixel(1, 0));
    assertThrows(IndexOutOfBoundsException.class, () -> image.getPixel(2, 0));
  }

  @Test
  void filesAndStreams(@TempDir Path dir) throws IOException {
    NImage image = new NImage(7, 5, randomPixels(7, 5, 6));
    Path file = dir.resolve("picture.bmp");
    image.write(file);
    NImage fromFile = NImage.read(file);
    assertArrayEquals(image.buffer, fromFile.buffer);
    assertEquals(7, fromFile.getWidth());
    assertEquals(5, fromFile.getHeight());

    ByteArrayOutputStream out = new ByteArrayOutputStream();
    image.write(out);
    assertArrayEquals(Files.readAllBytes(file), out.toByteArray());
    NImage fromStream = NImage.read(new ByteArrayInputStream(out.toByteArray()));
    assertArrayEquals(image.buffer, fromStream.getPixels());

    IOException wrong =
        assertThrows(IOException.class, () -> NImage.read(new ByteArrayInputStream(new byte[10])));
    assertEquals("Wrong file format", wrong.getMessage());
    NImage broken = new NImage();
    broken.width = 3;
    broken.height = 3;
    assertNotNull(assertThrows(IOException.class, () -> broken.write(new ByteArrayOutputStream())));
  }
}
