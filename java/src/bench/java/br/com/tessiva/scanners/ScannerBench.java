package br.com.tessiva.scanners;

import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * Images delivered to a Java listener by the test plug-in (a plain harness, not a test).
 *
 * <pre>
 *   VXR_TEST_DIR=/tmp/x java -Djava.library.path=&lt;scanner-lib&gt; \
 *     -cp dactyra.jar:dactyra-bench.jar br.com.tessiva.scanners.ScannerBench throughput|latency|readers
 * </pre>
 *
 * <p>throughput: the plug-in delivers 352 x 288 images as fast as it can (frozen configuration,
 * no log, as the native peer benchmark DirectGetImage/1 runs it); reports events per second at the
 * listener, the images the plug-in produced meanwhile (from the pattern's image counter) and the
 * resident memory after 2,000 warm-up events and after 10,000 more.
 *
 * <p>latency: images paced 1 ms apart carry the monotonic time at which VXR_GetImage returned; the
 * listener compares it with System.nanoTime (the same clock on Linux) over 5,000 events.
 *
 * <p>readers: 1, 2, 4 and then 8 readers of the plug-in capture at once, each at a real reader's
 * pace (15 images a second, 352 x 288) into its own listener, for 10 s after 2 s of warm-up; reports
 * the slowest reader's rate, the process's CPU time per delivered image and the latency from
 * VXR_GetImage's return to the listener.
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
    if (mode.equals("readers")) {
      for (int i = 2; i <= READERS[READERS.length - 1]; i++) {
        config += "device=B" + i + "\n";
      }
      config += "stamp=1\npace=" + PACE + "\nfrozen=1\n";
    } else {
      config += mode.equals("latency") ? "stamp=1\nimage_delay_ms=1\n" : "frozen=1\n";
    }
    Files.writeString(dir.resolve("vxr_test.conf"), config);
    if (mode.equals("readers")) {
      List<Scanner> ours = new ArrayList<>();
      for (Scanner s : ScannerMan.getScanners()) {
        if (s.getId().startsWith(prefix + "\\")) {
          ours.add(s);
        }
      }
      if (ours.size() < READERS[READERS.length - 1]) {
        throw new IllegalStateException("the test plug-in lists " + ours.size() + " readers");
      }
      for (int n : READERS) {
        readers(ours.subList(0, n));
      }
      ScannerMan.uninitialize();
      return;
    }

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

  static final int[] READERS = {1, 2, 4, 8};
  static final int PACE = 15;

  /** What one reader's listener saw inside the measured window. */
  static final class Seen {
    volatile int images;
    final long[] latencies = new long[PACE * 20];
  }

  static long processCpuNanos() {
    return ((com.sun.management.OperatingSystemMXBean) ManagementFactory.getOperatingSystemMXBean())
        .getProcessCpuTime();
  }

  static void readers(List<Scanner> scanners) throws Exception {
    final long warmUp = 2_000_000_000L;
    final long window = 10_000_000_000L;
    final long start = System.nanoTime() + warmUp;
    final long end = start + window;
    List<Seen> seen = new ArrayList<>();
    List<ScanListener> listeners = new ArrayList<>();
    for (Scanner scanner : scanners) {
      Seen mine = new Seen();
      seen.add(mine);
      ScanListener listener =
          event -> {
            long now = System.nanoTime();
            if (now < start || now >= end) {
              return;
            }
            long stamp = 0;
            for (int b = 7; b >= 0; b--) {
              stamp = (stamp << 8) | (event.image.buffer[b] & 0xFF);
            }
            int i = mine.images;
            if (i < mine.latencies.length) {
              mine.latencies[i] = now - stamp;
            }
            mine.images = i + 1;
          };
      listeners.add(listener);
      scanner.addScanListener(listener);
    }
    for (Scanner scanner : scanners) {
      scanner.startCapturing();
    }
    Thread.sleep((start - System.nanoTime()) / 1_000_000);
    long cpuBefore = processCpuNanos();
    long wallBefore = System.nanoTime();
    Thread.sleep(Math.max(0, (end - System.nanoTime()) / 1_000_000));
    long cpu = processCpuNanos() - cpuBefore;
    long wall = System.nanoTime() - wallBefore;
    for (Scanner scanner : scanners) {
      scanner.stopCapturing();
    }
    for (int i = 0; i < scanners.size(); i++) {
      scanners.get(i).removeScanListener(listeners.get(i));
    }
    int total = 0;
    double slowest = Double.MAX_VALUE;
    List<Long> all = new ArrayList<>();
    for (Seen s : seen) {
      int n = s.images;
      total += n;
      slowest = Math.min(slowest, n / (window / 1e9));
      for (int i = 0; i < Math.min(n, s.latencies.length); i++) {
        all.add(s.latencies[i]);
      }
    }
    if (total == 0) {
      throw new IllegalStateException("no image reached a listener");
    }
    long[] sorted = all.stream().mapToLong(Long::longValue).sorted().toArray();
    System.out.printf(
        "readers %d at %d/s, 352x288: slowest reader %.2f images/s; %.1f us CPU per image"
            + " (%.1f%% of one core); VXR_GetImage return to listener: median %.1f us,"
            + " p99 %.1f us (%d images)%n",
        scanners.size(),
        PACE,
        slowest,
        cpu / 1e3 / total,
        100.0 * cpu / wall,
        sorted[sorted.length / 2] / 1e3,
        sorted[sorted.length * 99 / 100] / 1e3,
        total);
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
