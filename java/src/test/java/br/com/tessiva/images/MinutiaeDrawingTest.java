package br.com.tessiva.images;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import br.com.tessiva.templates.NFRecord;
import java.awt.Color;
import java.awt.image.BufferedImage;
import java.io.ByteArrayOutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import javax.imageio.ImageIO;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class MinutiaeDrawingTest {
  static final int W = 120;
  static final int H = 100;

  // A record with minutiae {x, y, type, angle} (flags 0, 4 bytes each), then cores {x, y, angle},
  // deltas {x, y, a1, a2, a3} and no double core.
  static NFRecord record(int[][] minutiae, int[][] cores, int[][] deltas) {
    ByteArrayOutputStream out = new ByteArrayOutputStream();
    for (int i = 0; i < 22; i++) out.write(0);
    out.write(0);
    out.write(0);
    out.write(minutiae.length);
    out.write(4);
    for (int[] m : minutiae) word(out, m[0], m[1], m[2], m[3]);
    out.write(0);
    out.write(0);
    out.write(0);
    out.write(cores.length);
    out.write(4);
    for (int[] c : cores) word(out, c[0], c[1], 0, c[2]);
    out.write(deltas.length);
    out.write(7);
    for (int[] d : deltas) {
      word(out, d[0], d[1], 0, 0);
      out.write(d[2]);
      out.write(d[3]);
      out.write(d[4]);
    }
    out.write(0);
    out.write(4);
    return new NFRecord(out.toByteArray());
  }

  static void word(ByteArrayOutputStream out, int x, int y, int type, int angle) {
    int w = x << 21 | y << 10 | type << 8 | angle;
    for (int i = 0; i < 4; i++) out.write(w >>> (8 * i) & 0xFF);
  }

  // A gray ramp, so that a pixel copied to the wrong place would show.
  static byte[] ramp() {
    byte[] p = new byte[W * H];
    for (int i = 0; i < p.length; i++) p[i] = (byte) (i * 7 % 251);
    return p;
  }

  static int gray(byte[] p, int x, int y) {
    int v = p[y * W + x] & 0xFF;
    return v << 16 | v << 8 | v;
  }

  static int rgb(BufferedImage img, int x, int y) {
    return img.getRGB(x, y) & 0xFFFFFF;
  }

  static int countColour(BufferedImage img, Color c) {
    int n = 0;
    for (int y = 0; y < img.getHeight(); y++) {
      for (int x = 0; x < img.getWidth(); x++) {
        if (rgb(img, x, y) == (c.getRGB() & 0xFFFFFF)) n++;
      }
    }
    return n;
  }

  @Test
  void drawsEachKindInItsColourInItsDirectionAndLeavesTheRestGray() {
    byte[] pixels = ramp();
    NFRecord rec = record(
        new int[][] {{30, 30, 1, 0}, {80, 30, 2, 64}, {30, 75, 3, 128}},
        new int[][] {{80, 75, 192}}, new int[][] {{60, 55, 0, 85, 170}});
    MinutiaeDrawing d = new MinutiaeDrawing(new NImage(W, H, pixels)).drawRecord(rec);
    BufferedImage img = d.image();
    assertEquals(W, img.getWidth());
    assertEquals(H, img.getHeight());
    assertEquals(0, d.outside());
    int r = 3;  // the radius on a picture this small
    // Ending at (30, 30) pointing along +x: the line right of the circle, none left of it.
    assertEquals(MinutiaeDrawing.ENDING.getRGB() & 0xFFFFFF, rgb(img, 30 + r + 3, 30));
    assertEquals(gray(pixels, 30 - r - 3, 30), rgb(img, 30 - r - 3, 30));
    // Bifurcation at (80, 30) pointing up (a quarter turn counter-clockwise on the screen).
    assertEquals(MinutiaeDrawing.BIFURCATION.getRGB() & 0xFFFFFF, rgb(img, 80, 30 - r - 3));
    assertEquals(gray(pixels, 80, 30 + r + 3), rgb(img, 80, 30 + r + 3));
    // Type 3 at (30, 75) pointing left.
    assertEquals(MinutiaeDrawing.OTHER_MINUTIA.getRGB() & 0xFFFFFF, rgb(img, 30 - r - 3, 75));
    // Core at (80, 75) pointing down.
    assertEquals(MinutiaeDrawing.CORE.getRGB() & 0xFFFFFF, rgb(img, 80, 75 + 2 * r + 2));
    assertTrue(countColour(img, MinutiaeDrawing.DELTA) > 10);
    // Far from every feature the picture is the gray picture, pixel for pixel.
    for (int[] p : new int[][] {{0, 0}, {W - 1, H - 1}, {55, 5}, {5, 50}, {110, 55}, {100, 95}}) {
      assertEquals(gray(pixels, p[0], p[1]), rgb(img, p[0], p[1]), Arrays.toString(p));
    }
    // Nothing drawn is gray, and the drawn pixels are few.
    int changed = 0;
    for (int y = 0; y < H; y++) {
      for (int x = 0; x < W; x++) {
        int v = rgb(img, x, y);
        if (v != gray(pixels, x, y)) {
          changed++;
          boolean gray = (v >> 16 & 0xFF) == (v & 0xFF) && (v >> 8 & 0xFF) == (v & 0xFF);
          assertTrue(!gray, "gray mark at " + x + "," + y);
        }
      }
    }
    assertTrue(changed > 40 && changed < W * H / 10, "changed " + changed);
  }

  @Test
  void featuresOutsideThePictureAreCountedAndNotDrawn() {
    byte[] pixels = ramp();
    // Positions of a larger picture: every one of them lies beyond this one.
    NFRecord rec = record(new int[][] {{W, 10, 1, 0}, {10, H, 2, 0}, {2047, 2047, 1, 0}},
        new int[][] {{W + 5, 5, 0}}, new int[][] {{5, H + 40, 0, 0, 0}});
    MinutiaeDrawing d = new MinutiaeDrawing(W, H, pixels).drawRecord(rec);
    d.drawMarks(List.of(new MinutiaeDrawing.Mark(-1, 5, 0), new MinutiaeDrawing.Mark(5, H, 0),
        new MinutiaeDrawing.Mark(Double.NaN, 5, 0)));
    assertEquals(8, d.outside());
    for (int y = 0; y < H; y++) {
      for (int x = 0; x < W; x++) {
        assertEquals(gray(pixels, x, y), rgb(d.image(), x, y), x + "," + y);
      }
    }
    // A feature on the last pixel is drawn, its marks clipped at the border.
    MinutiaeDrawing edge = new MinutiaeDrawing(W, H, pixels)
        .drawRecord(record(new int[][] {{W - 1, H - 1, 1, 96}}, new int[0][], new int[0][]));
    assertEquals(0, edge.outside());
    assertTrue(countColour(edge.image(), MinutiaeDrawing.ENDING) > 3);
  }

  @Test
  void secondSetTakesItsOwnColourAndTheRadianConvention() {
    byte[] pixels = new byte[W * H];
    Arrays.fill(pixels, (byte) 128);
    MinutiaeDrawing d = new MinutiaeDrawing(W, H, pixels);
    d.drawMarks(List.of(new MinutiaeDrawing.Mark(40.7, 50.2, Math.PI / 2)));
    int mark = MinutiaeDrawing.MARK.getRGB() & 0xFFFFFF;
    assertEquals(mark, rgb(d.image(), 40, 50 - 8));  // up, 9 pixels long
    assertEquals(0x808080, rgb(d.image(), 40, 50 + 8));
    Color blue = new Color(0, 0, 255);
    d.drawMarks(List.of(new MinutiaeDrawing.Mark(90, 50, Math.PI)), blue);
    assertEquals(0x0000FF, rgb(d.image(), 90 - 8, 50));
    assertEquals(0, countColour(d.image(), MinutiaeDrawing.ENDING));
  }

  @Test
  void pngHoldsThePictureDrawn(@TempDir Path dir) throws Exception {
    byte[] pixels = ramp();
    NFRecord rec = record(new int[][] {{50, 50, 1, 32}}, new int[0][], new int[0][]);
    Path file = dir.resolve("drawn.png");
    int outside = MinutiaeDrawing.writePNG(new NImage(W, H, pixels), rec,
        List.of(new MinutiaeDrawing.Mark(20, 20, 0), new MinutiaeDrawing.Mark(500, 20, 0)), file);
    assertEquals(1, outside);
    BufferedImage read = ImageIO.read(file.toFile());
    MinutiaeDrawing expected = new MinutiaeDrawing(W, H, pixels).drawRecord(rec)
        .drawMarks(List.of(new MinutiaeDrawing.Mark(20, 20, 0)));
    int[] want = expected.image().getRGB(0, 0, W, H, null, 0, W);
    int[] got = read.getRGB(0, 0, W, H, null, 0, W);
    assertArrayEquals(want, got);
    assertTrue(countColour(read, MinutiaeDrawing.MARK) > 5);
    // A folder that does not exist is an IOException, not a silent false.
    assertThrows(java.io.IOException.class,
        () -> expected.writePNG(dir.resolve("missing").resolve("x.png")));
  }

  @Test
  void refusesPicturesItCannotDrawOn() {
    assertThrows(IllegalArgumentException.class, () -> new MinutiaeDrawing(0, 10, new byte[0]));
    assertThrows(IllegalArgumentException.class, () -> new MinutiaeDrawing(10, 10, new byte[99]));
    assertThrows(IllegalArgumentException.class, () -> new MinutiaeDrawing(10, 10, null));
    assertThrows(IllegalArgumentException.class, () -> new MinutiaeDrawing(new NImage()));
  }
}
