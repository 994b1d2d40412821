package br.com.tessiva.cli;

import br.com.tessiva.scanners.CaptureSession;
import br.com.tessiva.scanners.ScanImage;
import br.com.tessiva.scanners.ScanManException;
import br.com.tessiva.scanners.Scanner;
import br.com.tessiva.scanners.ScannerMan;
import java.io.PrintStream;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;

/**
 * "dactyra readers": the readers attached, with their module and image size. The size is known
 * only from an image, so every reader is started at once and the first image each delivers within
 * the wait gives its size.
 */
final class ReadersCommand implements Command {
  @Override
  public String name() {
    return "readers";
  }

  @Override
  public String summary() {
    return "list the fingerprint readers attached, with module and image size";
  }

  @Override
  public String help() {
    return "Usage: dactyra readers [--wait SECONDS] [--no-size]\n"
        + "Lists the fingerprint readers attached, one a line: its name (the name the other\n"
        + "commands take), its module (the part of the name before the backslash) and the size\n"
        + "of its images.\n\n"
        + "The size is that of the first image the reader delivers: every reader is started\n"
        + "and waited for at most --wait seconds (default 3). The size shows '?' when no image\n"
        + "came in time (a reader that waits for a finger), 'in use' when another program holds\n"
        + "the reader, 'unavailable' when it cannot be started.\n\n"
        + "  --wait SECONDS  how long to wait for the first images (1 to 600)\n"
        + "  --no-size       list without starting the readers\n";
  }

  @Override
  public int run(String[] argv, PrintStream out, PrintStream err) throws Exception {
    Args args = new Args("readers", argv, Set.of("--wait"), Set.of("--no-size"));
    if (!args.operands().isEmpty()) {
      throw CliException.usage("readers: unexpected argument '" + args.operands().get(0) + "'");
    }
    int wait = args.integer("readers", "--wait", 3, 1, 600);
    boolean sizes = !args.has("--no-size");
    try {
      List<Scanner> scanners = CaptureCommand.scanners();
      List<String> ids = new ArrayList<>();
      for (Scanner s : scanners) ids.add(s.getId());
      List<String> sizeColumn = sizes ? sizes(scanners, wait) : null;
      if (scanners.isEmpty()) {
        err.println("dactyra: readers: no reader attached");
      }
      int nameWidth = 4;
      int moduleWidth = 6;
      for (String id : ids) {
        nameWidth = Math.max(nameWidth, id.length());
        moduleWidth = Math.max(moduleWidth, module(id).length());
      }
      String format = "%-" + nameWidth + "s  %-" + moduleWidth + "s" + (sizes ? "  %s%n" : "%n");
      out.printf(format, "NAME", "MODULE", "SIZE");
      for (int i = 0; i < ids.size(); i++) {
        out.printf(format, ids.get(i), module(ids.get(i)), sizes ? sizeColumn.get(i) : "");
      }
      return 0;
    } finally {
      ScannerMan.uninitialize();
    }
  }

  static String module(String id) {
    int slash = id.indexOf('\\');
    return slash < 0 ? id : id.substring(0, slash);
  }

  // Starts every reader, then takes the first image of each against one deadline.
  private static List<String> sizes(List<Scanner> scanners, int waitSeconds)
      throws InterruptedException {
    List<String> result = new ArrayList<>();
    List<CaptureSession> sessions = new ArrayList<>();
    try {
      for (Scanner s : scanners) {
        try {
          sessions.add(s.openSession());
          result.add(null);
        } catch (ScanManException e) {
          sessions.add(null);
          result.add(CaptureCommand.inUse(e) ? "in use" : "unavailable");
        }
      }
      long deadline = System.nanoTime() + Duration.ofSeconds(waitSeconds).toNanos();
      for (int i = 0; i < sessions.size(); i++) {
        if (sessions.get(i) == null) continue;
        Duration left = Duration.ofNanos(Math.max(0, deadline - System.nanoTime()));
        ScanImage image = sessions.get(i).nextImage(left);
        result.set(i, image == null ? "?" : image.getWidth() + "x" + image.getHeight());
      }
    } finally {
      for (CaptureSession session : sessions) {
        if (session == null) continue;
        try {
          session.close();
        } catch (ScanManException e) {
          // Stopping a reader that failed is reported by nothing else; its size says enough.
        }
      }
    }
    return result;
  }
}
