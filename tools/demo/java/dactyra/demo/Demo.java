package dactyra.demo;

import br.com.tessiva.base.FingerprintBase;
import br.com.tessiva.base.FingerprintBaseException;
import br.com.tessiva.fingers.NFExtractor;
import br.com.tessiva.fingers.NFImpressionType;
import br.com.tessiva.fingers.NFPosition;
import br.com.tessiva.images.MinutiaeDrawing;
import br.com.tessiva.images.NImage;
import br.com.tessiva.scanners.ScanEventKind;
import br.com.tessiva.scanners.ScanImage;
import br.com.tessiva.scanners.ScanManException;
import br.com.tessiva.scanners.Scanner;
import br.com.tessiva.scanners.ScannerMan;
import br.com.tessiva.templates.NFMinutia;
import br.com.tessiva.templates.NFRecord;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.Locale;
import java.util.Optional;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * The demo: every reader attached, a few images from each at once through scan events, each saved
 * as a BMP, its template extracted and its minutiae scored against the finger's true minutiae.
 * Written against the public API of dactyra.jar only.
 *
 * <pre>
 * java -Djava.library.path=LIBDIR -cp dactyra.jar:dactyra-demo.jar dactyra.demo.Demo \
 *     --out DIR --truth DIR [--count N] [--readers N] [--timeout SECONDS]
 * </pre>
 *
 * <p>The truth folder holds one file per frame the simulated readers deliver, named after the
 * frame's pixels (see tools/demo/demo_truth.cc); a captured image is scored against the file of
 * its own pixels. A detected minutia matches a true one within 10 pixels and 30 degrees, one to
 * one, greedily by distance (the engine's own measurement; cores and deltas within 16 pixels).
 *
 * <p>It ends with a fingerprint base (BASE.db in the output folder, made anew): each reader's first
 * three images (fewer when it delivered fewer than four) enroll its finger under the reader's name,
 * and each of its other images is identified, which must give that name back.
 *
 * <p>Exits 1 on any failure: fewer readers than --readers, a reader that delivers fewer than --count
 * images in time, an image without truth, an extraction that fails, an enrollment that fails, an
 * image identified as another reader's or not at all.
 */
public final class Demo {
  static final double MATCH_DISTANCE = 10;
  static final double MATCH_ANGLE = Math.PI / 6;
  static final double SINGULAR_DISTANCE = 16;

  /** One reader's run: the images its listener received, with their arrival times. */
  static final class Run {
    final Scanner scanner;
    final String name;
    final int wanted;
    final List<ScanImage> images = new ArrayList<>();
    final List<Long> arrivals = new ArrayList<>();
    final CountDownLatch done;
    long started;
    String failure;
    int found;
    int truth;
    int matched;
    int cores;
    int trueCores;
    int deltas;
    int trueDeltas;
    long extractNanos;
    int enrolled;
    int identified;
    int recognised;
    int lowestScore = Integer.MAX_VALUE;
    long identifyNanos;

    Run(Scanner scanner, String name, int wanted, CountDownLatch done) {
      this.scanner = scanner;
      this.name = name;
      this.wanted = wanted;
      this.done = done;
    }

    void scanned(Scanner.ScanEvent event) {
      if (event.kind != ScanEventKind.ImageScanned || event.image == null) {
        return;
      }
      synchronized (this) {
        if (images.size() >= wanted) {
          return;
        }
        // The event's image belongs to this call; keep a copy of the pixels.
        ScanImage copy = new ScanImage(event.image.getWidth(), event.image.getHeight());
        System.arraycopy(event.image.buffer, 0, copy.buffer, 0, copy.buffer.length);
        images.add(copy);
        arrivals.add(System.nanoTime());
        if (images.size() == wanted) {
          done.countDown();
        }
      }
    }
  }

  /** The truth of one delivered frame: minutiae as {x, y, direction}, cores and deltas as {x, y}. */
  static final class Truth {
    final List<double[]> minutiae = new ArrayList<>();
    final List<double[]> cores = new ArrayList<>();
    final List<double[]> deltas = new ArrayList<>();

    static Truth read(Path file) throws IOException {
      Truth t = new Truth();
      for (String line : Files.readAllLines(file)) {
        String[] v = line.trim().split(" ");
        if (v.length < 3 || (v[0].equals("minutia") && v.length < 4)) {
          throw new IOException(file + ": bad line " + line);
        }
        double x = Double.parseDouble(v[1]);
        double y = Double.parseDouble(v[2]);
        switch (v[0]) {
          case "minutia" -> t.minutiae.add(new double[] {x, y, Double.parseDouble(v[3])});
          case "core" -> t.cores.add(new double[] {x, y});
          case "delta" -> t.deltas.add(new double[] {x, y});
          default -> throw new IOException(file + ": unknown line " + line);
        }
      }
      return t;
    }
  }

  /** FNV-1a 64 of the pixels, as demo_truth names its files. */
  static long fnv1a(byte[] pixels) {
    long h = 0xcbf29ce484222325L;
    for (byte b : pixels) {
      h ^= b & 0xff;
      h *= 0x100000001b3L;
    }
    return h;
  }

  /**
   * The number of pairs (truth, found) within the distance and, when {@code angles}, within the
   * angle, taken greedily by distance, one to one. Points are {x, y[, direction]}.
   */
  static int matched(List<double[]> truth, List<double[]> found, double distance,
      boolean angles) {
    List<double[]> pairs = new ArrayList<>();
    for (int i = 0; i < truth.size(); i++) {
      for (int j = 0; j < found.size(); j++) {
        double[] t = truth.get(i);
        double[] f = found.get(j);
        double d = Math.hypot(t[0] - f[0], t[1] - f[1]);
        if (d > distance) {
          continue;
        }
        if (angles) {
          double gap = Math.abs(t[2] - f[2]) % (2 * Math.PI);
          if (Math.min(gap, 2 * Math.PI - gap) > MATCH_ANGLE) {
            continue;
          }
        }
        pairs.add(new double[] {d, i, j});
      }
    }
    pairs.sort(Comparator.comparingDouble(p -> p[0]));
    boolean[] usedTruth = new boolean[truth.size()];
    boolean[] usedFound = new boolean[found.size()];
    int n = 0;
    for (double[] p : pairs) {
      int i = (int) p[1];
      int j = (int) p[2];
      if (!usedTruth[i] && !usedFound[j]) {
        usedTruth[i] = usedFound[j] = true;
        n++;
      }
    }
    return n;
  }

  static String fileStem(String readerName) {
    return readerName.replaceAll("[^A-Za-z0-9._-]+", "_");
  }

  static void usage(String message) {
    System.err.println("demo: " + message);
    System.err.println("usage: Demo --out DIR --truth DIR [--count N] [--readers N]"
        + " [--timeout SECONDS]");
    System.exit(2);
  }

  public static void main(String[] args) throws Exception {
    Path out = null;
    Path truthDir = null;
    int count = 5;
    int expectedReaders = 1;
    int timeoutSeconds = 30;
    for (int i = 0; i < args.length; i += 2) {
      if (i + 1 >= args.length) {
        usage("no value for " + args[i]);
      }
      String v = args[i + 1];
      try {
        switch (args[i]) {
          case "--out" -> out = Paths.get(v);
          case "--truth" -> truthDir = Paths.get(v);
          case "--count" -> count = Integer.parseInt(v);
          case "--readers" -> expectedReaders = Integer.parseInt(v);
          case "--timeout" -> timeoutSeconds = Integer.parseInt(v);
          default -> usage("unknown option " + args[i]);
        }
      } catch (NumberFormatException e) {
        usage("not a number: " + v);
      }
    }
    if (out == null || truthDir == null || count < 1 || timeoutSeconds < 1) {
      usage("--out and --truth are needed; --count and --timeout must be positive");
    }
    Files.createDirectories(out);
    // Ended by a signal (Ctrl-C, a kill), the VM still stops every reader
    // before it goes, so no reader is left delivering into a closing process.
    AtomicBoolean stopped = new AtomicBoolean();
    Runnable stopAll = () -> {
      if (stopped.compareAndSet(false, true)) {
        try {
          ScannerMan.uninitialize();
        } catch (ScanManException e) {
          System.err.println("demo: " + e.getMessage());
        }
      }
    };
    Runtime.getRuntime().addShutdownHook(new Thread(stopAll, "demo-stop"));
    int status;
    try {
      status = run(out, truthDir, count, expectedReaders, timeoutSeconds);
    } finally {
      stopAll.run();
    }
    System.exit(status);
  }

  static int run(Path out, Path truthDir, int count, int expectedReaders, int timeoutSeconds)
      throws Exception {
    List<Scanner> scanners = ScannerMan.getScanners();
    System.out.println("Readers (" + scanners.size() + "):");
    CountDownLatch done = new CountDownLatch(scanners.size());
    List<Run> runs = new ArrayList<>();
    for (Scanner s : scanners) {
      Run run = new Run(s, s.getId(), count, done);
      System.out.println("  " + run.name);
      runs.add(run);
    }
    boolean failed = false;
    if (scanners.size() < expectedReaders) {
      System.out.println("FAILED: " + scanners.size() + " readers, " + expectedReaders
          + " expected");
      failed = true;
    }

    // Every reader at once: start all, wait until each has delivered, stop all.
    try {
      for (Run run : runs) {
        run.scanner.addScanListener(run::scanned);
        run.started = System.nanoTime();
        try {
          run.scanner.startCapturing();
        } catch (ScanManException e) {
          run.failure = "cannot start: " + e.getMessage();
          done.countDown();
        }
      }
      done.await(timeoutSeconds, TimeUnit.SECONDS);
    } finally {
      for (Run run : runs) {
        try {
          run.scanner.stopCapturing();
        } catch (ScanManException e) {
          if (run.failure == null) {
            run.failure = "cannot stop: " + e.getMessage();
          }
        }
      }
    }

    List<String> pictures = new ArrayList<>();
    try (NFExtractor extractor = new NFExtractor()) {
      for (Run run : runs) {
        List<ScanImage> images;
        synchronized (run) {
          images = new ArrayList<>(run.images);
        }
        if (run.failure == null && images.size() < count) {
          run.failure = images.size() + " of " + count + " images in " + timeoutSeconds + " s";
        }
        for (int k = 0; k < images.size() && run.failure == null; k++) {
          run.failure = score(run, k, images.get(k), extractor, out, truthDir, pictures);
        }
        failed |= run.failure != null;
      }
    }

    printTable(runs);
    Path basePath = out.resolve(BASE);
    failed |= enrollAndIdentify(runs, basePath);
    for (Run run : runs) {
      if (run.failure != null) {
        System.out.println("FAILED " + run.name + ": " + run.failure);
      }
    }
    System.out.println("Pictures (" + pictures.size() + "): " + out.toAbsolutePath());
    System.out.println("  <reader>-<n>.bmp as captured; <reader>-<n>.png with the minutiae found"
        + " (red circles: endings, blue squares: bifurcations, green: cores, magenta: deltas)"
        + " over the true ones (yellow diamonds)");
    return failed ? 1 : 0;
  }

  /** Saves, extracts and scores image k of a run; returns the failure, or null. */
  static String score(Run run, int k, ScanImage scan, NFExtractor extractor, Path out,
      Path truthDir, List<String> pictures) throws IOException {
    String stem = fileStem(run.name) + "-" + (k + 1);
    NImage image = scan.toNImage();
    Path bmp = out.resolve(stem + ".bmp");
    image.write(bmp);
    pictures.add(bmp.toString());

    String key = String.format(Locale.ROOT, "%dx%d-%016x.txt", scan.getWidth(), scan.getHeight(),
        fnv1a(scan.buffer));
    Path truthFile = truthDir.resolve(key);
    if (!Files.exists(truthFile)) {
      return "image " + (k + 1) + " is no frame the stand-in was said to serve (no " + key + ")";
    }
    Truth truth = Truth.read(truthFile);

    NFRecord record;
    long t0 = System.nanoTime();
    try {
      record = extractor.extract(image, NFPosition.UNKNOWN, NFImpressionType.LIVE_SCAN_PLAIN);
    } catch (Exception e) {
      return "extraction of image " + (k + 1) + " failed: " + e.getMessage();
    }
    run.extractNanos += System.nanoTime() - t0;
    List<double[]> found = new ArrayList<>();
    for (NFMinutia m : record.getMinutiae()) {
      found.add(new double[] {m.getX(), m.getY(), m.getAngle() * 2 * Math.PI / 256});
    }
    List<double[]> cores = new ArrayList<>();
    record.getCores().forEach(c -> cores.add(new double[] {c.getX(), c.getY()}));
    List<double[]> deltas = new ArrayList<>();
    record.getDeltas().forEach(d -> deltas.add(new double[] {d.getX(), d.getY()}));
    run.found += found.size();
    run.truth += truth.minutiae.size();
    run.matched += matched(truth.minutiae, found, MATCH_DISTANCE, true);
    run.cores += matched(truth.cores, cores, SINGULAR_DISTANCE, false);
    run.trueCores += truth.cores.size();
    run.deltas += matched(truth.deltas, deltas, SINGULAR_DISTANCE, false);
    run.trueDeltas += truth.deltas.size();

    // The true minutiae first (yellow diamonds), the record's features over them.
    List<MinutiaeDrawing.Mark> marks = new ArrayList<>();
    for (double[] t : truth.minutiae) {
      marks.add(new MinutiaeDrawing.Mark(t[0], t[1], t[2]));
    }
    Path png = out.resolve(stem + ".png");
    new MinutiaeDrawing(image).drawMarks(marks).drawRecord(record).writePNG(png);
    pictures.add(png.toString());
    return null;
  }

  /** The fingerprint base's file in the output folder. */
  static final String BASE = "fingerprints.db";

  /**
   * Enrolls each reader's first images under its name and identifies the others; prints a table
   * and returns whether anything failed (each failure is noted on its run).
   */
  static boolean enrollAndIdentify(List<Run> runs, Path file) throws IOException {
    Files.deleteIfExists(file);
    boolean failed = false;
    try (FingerprintBase base = new FingerprintBase(file)) {
      for (Run run : runs) {
        List<ScanImage> images;
        synchronized (run) {
          images = new ArrayList<>(run.images);
        }
        if (run.failure != null || images.isEmpty()) {
          continue;
        }
        // Three to enroll, the rest to identify; with fewer than four, all but the last enroll.
        int enroll = Math.max(1, Math.min(3, images.size() - 1));
        NImage[] first = new NImage[enroll];
        for (int k = 0; k < enroll; k++) {
          first[k] = nimage(images.get(k));
        }
        try {
          base.enroll(run.name, 0, first);
          run.enrolled = enroll;
        } catch (FingerprintBaseException e) {
          run.failure = "enrollment failed: " + e.getMessage();
          failed = true;
          continue;
        }
        for (int k = enroll; k < images.size(); k++) {
          long t0 = System.nanoTime();
          Optional<FingerprintBase.Match> match;
          try {
            match = base.identify(nimage(images.get(k)));
          } catch (FingerprintBaseException e) {
            run.failure = "identification of image " + (k + 1) + " failed: " + e.getMessage();
            break;
          }
          run.identifyNanos += System.nanoTime() - t0;
          run.identified++;
          if (match.isEmpty()) {
            run.failure = "image " + (k + 1) + " was not recognised";
            break;
          }
          if (!match.get().code().equals(run.name)) {
            run.failure = "image " + (k + 1) + " was taken for " + match.get().code();
            break;
          }
          run.recognised++;
          run.lowestScore = Math.min(run.lowestScore, match.get().score());
        }
        failed |= run.failure != null;
      }
      printBaseTable(runs, base, file);
    } catch (FingerprintBaseException e) {
      System.out.println("FAILED: the fingerprint base " + file + ": " + e.getMessage());
      return true;
    }
    return failed;
  }

  static NImage nimage(ScanImage scan) {
    return new NImage(scan.getWidth(), scan.getHeight(), scan.buffer);
  }

  static void printBaseTable(List<Run> runs, FingerprintBase base, Path file)
      throws FingerprintBaseException {
    int nameWidth = 6;
    for (Run run : runs) {
      nameWidth = Math.max(nameWidth, run.name.length());
    }
    FingerprintBase.Thresholds thresholds = base.thresholds();
    String format = "%-" + nameWidth + "s %8s %10s %10s %9s %8s%n";
    System.out.println("Enrollment and identification: " + base.entries().size()
        + " fingers in " + file.toAbsolutePath());
    System.out.printf(Locale.ROOT, format, "reader", "enrolled", "identified", "recognised",
        "min score", "ms/image");
    for (Run run : runs) {
      System.out.printf(Locale.ROOT, format, run.name, run.enrolled, run.identified,
          run.recognised, run.recognised == 0 ? "-" : Integer.toString(run.lowestScore),
          run.identified == 0 ? "-"
              : String.format(Locale.ROOT, "%.0f", run.identifyNanos / 1e6 / run.identified));
    }
    System.out.println();
    System.out.println("enrolled: images enrolled under the reader's name; identified: its other"
        + " images searched among all readers' fingers; recognised: found as that reader's finger"
        + " (score 0-" + FingerprintBase.MAX_SCORE + ", " + thresholds.identify() + " needed)");
    System.out.println();
  }

  static void printTable(List<Run> runs) {
    int nameWidth = 6;
    for (Run run : runs) {
      nameWidth = Math.max(nameWidth, run.name.length());
    }
    String format = "%-" + nameWidth + "s %8s %6s %8s %8s %8s %8s %5s %6s %6s %6s %6s%n";
    System.out.println();
    System.out.printf(Locale.ROOT, format, "reader", "size", "images", "first ms", "ms/image",
        "extr. ms", "minutiae", "true", "prec.", "recall", "cores", "deltas");
    for (Run run : runs) {
      List<ScanImage> images;
      List<Long> arrivals;
      synchronized (run) {
        images = new ArrayList<>(run.images);
        arrivals = new ArrayList<>(run.arrivals);
      }
      int n = images.size();
      String size = n == 0 ? "-" : images.get(0).getWidth() + "x" + images.get(0).getHeight();
      String first = n == 0 ? "-"
          : String.format(Locale.ROOT, "%.0f", (arrivals.get(0) - run.started) / 1e6);
      String perImage = n < 2 ? "-"
          : String.format(Locale.ROOT, "%.0f", (arrivals.get(n - 1) - arrivals.get(0)) / 1e6 / (n - 1));
      String extract = n == 0 ? "-"
          : String.format(Locale.ROOT, "%.0f", run.extractNanos / 1e6 / n);
      String precision = run.found == 0 ? "-"
          : String.format(Locale.ROOT, "%.2f", (double) run.matched / run.found);
      String recall = run.truth == 0 ? "-"
          : String.format(Locale.ROOT, "%.2f", (double) run.matched / run.truth);
      System.out.printf(Locale.ROOT, format, run.name, size, n, first, perImage, extract,
          run.found, run.truth, precision, recall, run.cores + "/" + run.trueCores,
          run.deltas + "/" + run.trueDeltas);
    }
    System.out.println();
    System.out.println("first ms: from start to the first image; ms/image: between images;"
        + " extr. ms: extraction per image");
    System.out.println("minutiae: found in all images; true: the finger's minutiae in view;"
        + " a match is within " + (int) MATCH_DISTANCE + " px and "
        + (int) Math.round(Math.toDegrees(MATCH_ANGLE)) + " degrees");
    System.out.println("cores, deltas: found within " + (int) SINGULAR_DISTANCE
        + " px of a true one / true");
  }

}
