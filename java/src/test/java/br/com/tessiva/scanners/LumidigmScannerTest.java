package br.com.tessiva.scanners;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.awt.image.BufferedImage;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;
import javax.imageio.ImageIO;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;
import org.junit.jupiter.api.io.TempDir;

/**
 * Two simulated Lumidigm sensors, each a process of its own that the test starts, captured at once
 * through the public scanner API from a library folder that holds libdactyra.so and vxr_lumidigm.so
 * as an installation does. Every image must be, pixel for pixel, the finger its sensor renders;
 * the expected pictures come from the finger render program with the sensors' seeds and size.
 */
class LumidigmScannerTest {
  static final int WIDTH = 160;
  static final int HEIGHT = 120;
  static final int IMAGES = 100;

  /** One simulated sensor program; it runs until its standard input ends. */
  static final class Sensor implements AutoCloseable {
    final Process process;

    Sensor(String name, String serialLow, int seed, String... more) throws IOException {
      List<String> command = new ArrayList<>();
      Collections.addAll(
          command,
          System.getProperty("dactyra.test.sensor"),
          "--name",
          name,
          "--serial-low",
          serialLow,
          "--width",
          Integer.toString(WIDTH),
          "--height",
          Integer.toString(HEIGHT),
          "--finger",
          Integer.toString(seed));
      Collections.addAll(command, more);
      ProcessBuilder pb = new ProcessBuilder(command);
      pb.redirectError(ProcessBuilder.Redirect.INHERIT);
      process = pb.start();
    }

    /** Reads the program's output until its "ready" line; false when it ended first. */
    boolean ready() throws IOException {
      BufferedReader out =
          new BufferedReader(new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
      for (String line = out.readLine(); line != null; line = out.readLine()) {
        if (line.equals("ready")) {
          return true;
        }
      }
      return false;
    }

    /** Ends its input (its own way out), and kills it when it does not go at once. */
    @Override
    public void close() {
      try {
        process.getOutputStream().close();
      } catch (IOException e) {
        // Gone already.
      }
      try {
        if (!process.waitFor(5, TimeUnit.SECONDS)) {
          process.destroyForcibly().waitFor(5, TimeUnit.SECONDS);
        }
      } catch (InterruptedException e) {
        process.destroyForcibly();
        Thread.currentThread().interrupt();
      }
    }
  }

  /** The pixels of the finger with that seed at the sensors' size, from the render program. */
  static byte[] finger(Path dir, int seed) throws Exception {
    Path out = dir.resolve("finger" + seed);
    Process render =
        new ProcessBuilder(
                System.getProperty("dactyra.test.render"),
                "--seed",
                Integer.toString(seed),
                "--size",
                WIDTH + "x" + HEIGHT,
                "--out",
                out.toString())
            .redirectErrorStream(true)
            .start();
    render.getInputStream().transferTo(System.out);
    assertTrue(render.waitFor(60, TimeUnit.SECONDS));
    assertEquals(0, render.exitValue());
    BufferedImage picture = ImageIO.read(Files.newInputStream(Paths.get(out + ".png")));
    assertNotNull(picture);
    assertEquals(BufferedImage.TYPE_BYTE_GRAY, picture.getType());
    assertEquals(WIDTH, picture.getWidth());
    assertEquals(HEIGHT, picture.getHeight());
    return (byte[]) picture.getRaster().getDataElements(0, 0, WIDTH, HEIGHT, null);
  }

  /**
   * What one scanner delivered: images equal to its finger, and every other. The first wrong
   * image, or the last of the images wanted, opens {@code done}.
   */
  static final class Tally implements ScanListener {
    final byte[] expected;
    final AtomicInteger equal = new AtomicInteger();
    final AtomicInteger wrong = new AtomicInteger();
    final AtomicReference<String> firstWrong = new AtomicReference<>();
    final CountDownLatch done;

    Tally(byte[] expected, CountDownLatch done) {
      this.expected = expected;
      this.done = done;
    }

    @Override
    public void scanned(Scanner.ScanEvent event) {
      ScanImage image = event.image;
      String fault = null;
      if (event.kind != ScanEventKind.ImageScanned || image == null) {
        fault = "event " + event.kind + " without an image";
      } else if (image.getWidth() != WIDTH || image.getHeight() != HEIGHT) {
        fault = "an image of " + image.getWidth() + " x " + image.getHeight();
      } else if (!Arrays.equals(image.buffer, expected)) {
        fault = "image " + (equal.get() + wrong.get() + 1) + " is not the sensor's finger";
      }
      if (fault != null) {
        wrong.incrementAndGet();
        if (firstWrong.compareAndSet(null, fault)) {
          while (done.getCount() > 0) {
            done.countDown();
          }
        }
      } else if (equal.incrementAndGet() == IMAGES) {
        done.countDown();
      }
    }
  }

  @Test
  @Timeout(180)
  void twoSensorsCapturedAtOnceDeliverExactlyTheFingersTheySent(@TempDir Path dir)
      throws Exception {
    Map<String, byte[]> fingers = new HashMap<>();
    fingers.put("Lumidigm\\12340B01", finger(dir, 51));
    fingers.put("Lumidigm\\12340B02", finger(dir, 52));
    assertFalse(Arrays.equals(fingers.get("Lumidigm\\12340B01"), fingers.get("Lumidigm\\12340B02")));

    List<Scanner> scanners = new ArrayList<>();
    // The second sensor arms with the other trigger scheme.
    try (Sensor a = new Sensor("ja", "0x0B01", 51);
        Sensor b = new Sensor("jb", "0x0B02", 52, "--vendor", "0x1111")) {
      assertTrue(a.ready(), "first sensor did not start");
      assertTrue(b.ready(), "second sensor did not start");
      try {
        scanners.addAll(ScannerMan.getScanners());
        assertEquals(2, scanners.size());
        CountDownLatch done = new CountDownLatch(2);
        Map<Scanner, Tally> tallies = new HashMap<>();
        for (Scanner s : scanners) {
          byte[] expected = fingers.get(s.getId());
          assertNotNull(expected, "unexpected reader " + s.getId());
          Tally tally = new Tally(expected, done);
          tallies.put(s, tally);
          s.addScanListener(tally);
        }
        for (Scanner s : scanners) {
          s.startCapturing();
        }
        boolean ended = done.await(120, TimeUnit.SECONDS);
        for (Scanner s : scanners) {
          s.stopCapturing();
          assertFalse(s.isCapturing());
        }
        for (Scanner s : scanners) {
          Tally t = tallies.get(s);
          assertEquals(0, t.wrong.get(), s.getId() + ": " + t.firstWrong.get());
        }
        for (Scanner s : scanners) {
          Tally t = tallies.get(s);
          assertTrue(t.equal.get() >= IMAGES, s.getId() + ": " + t.equal.get() + " images");
        }
        assertTrue(ended);
      } finally {
        for (Scanner s : scanners) {
          s.stopCapturing();
        }
      }
    }
  }
}
