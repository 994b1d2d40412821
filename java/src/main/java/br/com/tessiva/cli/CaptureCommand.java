package br.com.tessiva.cli;

import br.com.tessiva.scanners.ScanEventKind;
import br.com.tessiva.scanners.ScanImage;
import br.com.tessiva.scanners.ScanListener;
import br.com.tessiva.scanners.ScanManException;
import br.com.tessiva.scanners.Scanner;
import br.com.tessiva.scanners.ScannerMan;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * "dactyra capture": images from one reader, delivered as scan events, written as BMP or PNG
 * files. The listener only queues the images; the files are written on the main thread, so a slow
 * disk delays no event. A shutdown hook stops the reader when the tool is interrupted.
 */
final class CaptureCommand implements Command {
  @Override
  public String name() {
    return "capture";
  }

  @Override
  public String summary() {
    return "capture images from a reader into files";
  }

  @Override
  public String help() {
    return "Usage: dactyra capture [--reader NAME] [--count N] [--out DIR] [--format bmp|png]\n"
        + "                       [--timeout SECONDS]\n"
        + "Starts a reader, writes the next N images it captures as 8-bit gray files and stops\n"
        + "it. Each file is named after the reader and the image's number (Lumidigm_0A1B2C3D-1.bmp)\n"
        + "and its path is printed on standard output; progress goes to standard error.\n\n"
        + "  --reader NAME       the reader, as 'dactyra readers' names it (default: the first)\n"
        + "  --count N           the number of images (default 1)\n"
        + "  --out DIR           the folder of the files, made when missing (default: current)\n"
        + "  --format bmp|png    the kind of file (default bmp)\n"
        + "  --timeout SECONDS   the longest wait for each image (default 30)\n";
  }

  @Override
  public int run(String[] argv, PrintStream out, PrintStream err) throws Exception {
    Args args = new Args("capture", argv,
        Set.of("--reader", "--count", "--out", "--format", "--timeout"), Set.of());
    if (!args.operands().isEmpty()) {
      throw CliException.usage("capture: unexpected argument '" + args.operands().get(0) + "'");
    }
    int count = args.integer("capture", "--count", 1, 1, 1_000_000);
    int timeout = args.integer("capture", "--timeout", 30, 1, 3600);
    String format = args.get("--format", "bmp");
    if (!format.equals("bmp") && !format.equals("png")) {
      throw CliException.usage("capture: --format must be bmp or png, not '" + format + "'");
    }
    Path folder = Paths.get(args.get("--out", "."));
    try {
      Files.createDirectories(folder);
    } catch (IOException e) {
      throw CliException.failure("capture: cannot make the folder " + folder + ": "
          + Dactyra.describe(e));
    }
    try {
      Scanner scanner = find(args.get("--reader", null));
      capture(scanner, count, timeout, folder, format, out, err);
      return 0;
    } finally {
      ScannerMan.uninitialize();
    }
  }

  private static void capture(Scanner scanner, int count, int timeout, Path folder, String format,
      PrintStream out, PrintStream err) throws Exception {
    String id = scanner.getId();
    BlockingQueue<ScanImage> images = new LinkedBlockingQueue<>();
    AtomicInteger taken = new AtomicInteger();
    ScanListener listener = event -> {
      // Only as many images as asked for are kept; later ones arrive before the stop.
      if (event.kind == ScanEventKind.ImageScanned && event.image != null
          && taken.getAndIncrement() < count) {
        images.add(event.image);
      }
    };
    Thread stopper = new Thread(() -> stopQuietly(scanner), "dactyra-capture-stop");
    scanner.addScanListener(listener);
    try {
      Runtime.getRuntime().addShutdownHook(stopper);
      try {
        scanner.startCapturing();
      } catch (ScanManException e) {
        throw CliException.failure(inUse(e)
            ? "capture: reader " + id + " is in use by another program"
            : "capture: cannot start reader " + id + ": " + Dactyra.oneLine(e.getMessage()));
      }
      boolean terminal = System.console() != null;
      String stem = fileStem(id);
      int digits = Integer.toString(count).length();
      for (int k = 1; k <= count; k++) {
        ScanImage image = images.poll(timeout, TimeUnit.SECONDS);
        if (image == null) {
          if (terminal) err.println();
          throw CliException.failure("capture: no image from " + id + " within " + timeout
              + " s (" + (k - 1) + " of " + count + " written)");
        }
        Path file = folder.resolve(String.format("%s-%0" + digits + "d.%s", stem, k, format));
        write(image, file, format);
        out.println(file);
        String progress = String.format("capture: %d/%d images from %s (%dx%d)", k, count, id,
            image.getWidth(), image.getHeight());
        if (terminal) {
          err.print("\r" + progress + (k == count ? "\n" : ""));
        } else {
          err.println(progress);
        }
        err.flush();
      }
    } finally {
      scanner.removeScanListener(listener);
      stopQuietly(scanner);
      try {
        Runtime.getRuntime().removeShutdownHook(stopper);
      } catch (IllegalStateException e) {
        // The VM is shutting down: the hook runs and finds the reader stopped.
      }
    }
  }

  private static void stopQuietly(Scanner scanner) {
    try {
      scanner.stopCapturing();
    } catch (ScanManException e) {
      // Already forgotten by uninitialize: nothing left to stop.
    }
  }

  private static void write(ScanImage image, Path file, String format) throws CliException {
    try {
      if (format.equals("png")) {
        try (OutputStream os = Files.newOutputStream(file)) {
          GrayImages.writePng(image.getWidth(), image.getHeight(), image.buffer, os);
        }
      } else {
        image.toNImage().write(file);
      }
    } catch (IOException e) {
      throw CliException.failure("capture: cannot write " + file + ": " + Dactyra.describe(e));
    }
  }

  // The reader name as part of a file name: a backslash and anything unusual become '_'.
  static String fileStem(String id) {
    return id.replaceAll("[^A-Za-z0-9._-]", "_");
  }

  /** The scanners of every reader attached, with a listing failure as a CliException. */
  static List<Scanner> scanners() throws CliException {
    try {
      return ScannerMan.getScanners();
    } catch (ScanManException e) {
      throw CliException.failure("cannot list the readers: " + Dactyra.oneLine(e.getMessage()));
    }
  }

  /** The reader named {@code name}, or the first when {@code name} is null. */
  static Scanner find(String name) throws CliException, ScanManException {
    List<Scanner> all = scanners();
    if (all.isEmpty()) throw CliException.failure("capture: no reader attached");
    if (name == null) return all.get(0);
    List<String> ids = new ArrayList<>();
    for (Scanner s : all) {
      String id = s.getId();
      if (id.equals(name)) return s;
      ids.add(id);
    }
    throw CliException.failure("capture: no reader named '" + name + "' (attached: "
        + String.join(", ", ids) + ")");
  }

  /** Whether the library refused to start a reader because another program holds it. */
  static boolean inUse(ScanManException e) {
    return e.getMessage() != null && e.getMessage().contains("sendo usado");
  }
}
