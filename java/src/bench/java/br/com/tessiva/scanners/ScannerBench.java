package br.com.tessiva.scanners;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * Images delivered to a Java listener by the test plug-in (a plain harness, not a test).
 *
 * <pre>
 *   VXR_TEST_DIR=/tmp/x java -Djava.library.path=&lt;scanner-lib&gt; \
 *     -cp dactyra.jar:dactyra-bench.jar br.com.tessiva.scanners.ScannerBench throughput|latency
 * </pre>
 *
 * <p>throughput: the plug-in delivers 352 x 288 images as fast as it can (frozen configuration,
 * no log, as the native peer benchmark DirectGetImage/1 runs it); reports events per second at the
 * listener, the images the plug-in produced meanwhile (from the pattern's image counter) and the
 * resident memory after 2,000 warm-up events and after 10,000 more.
 *
 * <p>latency: images paced 1 ms apart carry the monotonic time at which VXR_GetImage returned; the
 * listener compares it with System.nanoTime (the same clock on Linux) over 5,000 events.
 */
public final class ScannerBench {
  private ScannerBench() {}

  static long rssKiB() throws IOException {
    for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
      if (line.startsWith("VmRSS:")) {
        return Long.parseLong(line.replaceAll("[^0-9]", ""));
      }
    }
    return -1;
  }

  public static void main(String[] args) throws Exception {
    String mode = args.length > 0 ? args[0] : "throughput";
    Path dir = Paths.get(System.getenv("VXR_TEST_DIR"));
    Files.createDirectories(dir);
    String prefix = "Bench" + ProcessHandle.current().pid();
    String config = "prefix=" + prefix + "\ndevice=B1\nmax=352x288\nimages=-1\nquiet=1\n";
    config += mode.equals("latency") ? "stamp=1\nimage_delay_ms=1\n" : "frozen=1\n";
    Files.writeString(dir.resolve("vxr_test.conf"), config);

    Scanner scanner = null;
    for (Scanner s : ScannerMan.getScanners()) {
      if (s.getId().startsWith(prefix + "\\")) {
        scanner = s;
      }
    }
    if (scanner == null) {
      throw new IllegalStateException("the test plug-in is not in the library's folder");
    }
    if (mode.equals("latency")) {
      latency(scanner);
    } else {
      throughput(scanner);
    }
    ScannerMan.uninitialize();
  }

  static void throughput(Scanner scanner) throws Exception {
    final int warmUp = 2000;
    final int measured = 10000;
    final long[] marks = new long[3];
    final long[] produced = new long[1];
    final int[] last = {-1};
    final int[] events = {0};
    CountDownLatch done = new CountDownLatch(1);
    scanner.addScanListener(
        event -> {
          int k = event.image.buffer[0] & 0xFF;
          if (events[0] >= warmUp) {
            produced[0] += (k - last[0] + 256) % 256;
          }
          last[0] = k;
          events[0]++;
          if (events[0] == warmUp) {
            marks[0] = System.nanoTime();
            try {
              marks[2] = rssKiB();
            } catch (IOException e) {
              marks[2] = -1;
            }
          } else if (events[0] == warmUp + measured) {
            marks[1] = System.nanoTime();
            done.countDown();
          }
        });
    scanner.startCapturing();
    if (!done.await(300, TimeUnit.SECONDS)) {
      throw new IllegalStateException("too slow: " + events[0] + " events");
    }
    long rssAfter = rssKiB();
    scanner.stopCapturing();
    double seconds = (marks[1] - marks[0]) / 1e9;
    System.out.printf(
        "352x288: %.0f events/s at the listener; plug-in produced %.0f images/s meanwhile"
            + " (%.3f delivered)%n",
        measured / seconds, produced[0] / seconds, (double) measured / produced[0]);
    System.out.printf(
        "resident: %d KiB after %d events, %d KiB after %d more (%+d KiB)%n",
        marks[2], warmUp, rssAfter, measured, rssAfter - marks[2]);
  }

  static void latency(Scanner scanner) throws Exception {
    final int warmUp = 500;
    final int measured = 5000;
    final long[] latencies = new long[measured];
    final int[] events = {0};
    CountDownLatch done = new CountDownLatch(1);
    scanner.addScanListener(
        event -> {
          long now = System.nanoTime();
          long stamp = 0;
          for (int b = 7; b >= 0; b--) {
            stamp = (stamp << 8) | (event.image.buffer[b] & 0xFF);
          }
          int i = events[0]++ - warmUp;
          if (i >= 0 && i < measured) {
            latencies[i] = now - stamp;
            if (i == measured - 1) {
              done.countDown();
            }
          }
        });
    scanner.startCapturing();
    if (!done.await(300, TimeUnit.SECONDS)) {
      throw new IllegalStateException("too slow: " + events[0] + " events");
    }
    scanner.stopCapturing();
    Arrays.sort(latencies);
    System.out.printf(
        "352x288, 1 ms apart: VXR_GetImage return to listener: median %.1f us, p99 %.1f us,"
            + " max %.1f us (%d events)%n",
        latencies[measured / 2] / 1e3,
        latencies[measured * 99 / 100] / 1e3,
        latencies[measured - 1] / 1e3,
        measured);
  }
}
