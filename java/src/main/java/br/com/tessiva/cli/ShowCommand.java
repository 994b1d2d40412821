package br.com.tessiva.cli;

import br.com.tessiva.templates.NFCore;
import br.com.tessiva.templates.NFDelta;
import br.com.tessiva.templates.NFDoubleCore;
import br.com.tessiva.templates.NFMinutia;
import br.com.tessiva.templates.NFRecord;
import java.io.PrintStream;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.Locale;
import java.util.Set;

/**
 * "dactyra show": the minutiae, cores, deltas and double cores of a template record, as a table
 * or as JSON.
 */
final class ShowCommand implements Command {
  /** The shortest file taken for a record: up to and including the minutia count and size. */
  static final int MIN_RECORD = 26;

  @Override
  public String name() {
    return "show";
  }

  @Override
  public String summary() {
    return "print the minutiae, cores, deltas and double cores of a template";
  }

  @Override
  public String help() {
    return "Usage: dactyra show TEMPLATE [--json]\n"
        + "Prints the features of a template record file (as 'dactyra extract' writes them):\n"
        + "each minutia with its position, type (ending, bifurcation or the type number), angle\n"
        + "(in 256ths of a turn counter-clockwise from the +x axis, and in degrees), quality,\n"
        + "curvature and G ('-' when the record carries none); each core with its position and\n"
        + "angle; each delta with its position and three angles; each double core's position.\n"
        + "Positions are pixels from the picture's top-left corner.\n\n"
        + "  --json   one JSON object instead: {\"minutiae\": [...], \"cores\": [...],\n"
        + "           \"deltas\": [...], \"doubleCores\": [...]}; absent values are null\n";
  }

  @Override
  public int run(String[] argv, PrintStream out, PrintStream err) throws Exception {
    Args args = new Args("show", argv, Set.of(), Set.of("--json"));
    if (args.operands().size() != 1) {
      throw CliException.usage(args.operands().isEmpty() ? "show: no template given"
                                                         : "show: one template at a time");
    }
    Path file = Paths.get(args.operands().get(0));
    NFRecord record = readRecord(file);
    out.print(args.has("--json") ? json(record) : table(file, record));
    return 0;
  }

  /** The record in {@code file}, refused when it is too short to be one. */
  static NFRecord readRecord(Path file) throws CliException {
    byte[] bytes = GrayImages.readFile(file);
    if (bytes.length < MIN_RECORD) {
      throw CliException.failure(file + ": not a template record (" + bytes.length
          + " bytes; a record holds at least " + MIN_RECORD + ")");
    }
    if (bytes[0] == 'B' && bytes[1] == 'M'
        || (bytes[0] & 0xFF) == 0x89 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G') {
      throw CliException.failure(file + ": a picture, not a template record");
    }
    // The minutia block is the one part every record holds; a file too short for it is no record
    // (the library would read the minutiae it holds and say nothing).
    long end = MIN_RECORD + (long) (bytes[24] & 0xFF) * (bytes[25] & 0xFF);
    if (end > bytes.length) {
      throw CliException.failure(file + ": not a template record (its " + (bytes[24] & 0xFF)
          + " minutiae need " + end + " bytes, the file has " + bytes.length + ")");
    }
    return new NFRecord(bytes);
  }

  /** "12 minutiae, 1 core, 2 deltas, 0 double cores". */
  static String summary(NFRecord r) {
    return count(r.getMinutiae().size(), "minutia", "minutiae") + ", "
        + count(r.getCores().size(), "core", "cores") + ", "
        + count(r.getDeltas().size(), "delta", "deltas") + ", "
        + count(r.getDoubleCores().size(), "double core", "double cores");
  }

  private static String count(int n, String one, String many) {
    return n + " " + (n == 1 ? one : many);
  }

  static String typeName(int type) {
    switch (type) {
      case 1:
        return "ending";
      case 2:
        return "bifurcation";
      default:
        return "type " + type;
    }
  }

  private static String degrees(int angle) {
    return String.format(Locale.ROOT, "%.1f", angle * 360.0 / 256);
  }

  private static String optional(int value, String absent) {
    return value == NFMinutia.ABSENT ? absent : Integer.toString(value);
  }

  static String table(Path file, NFRecord r) {
    StringBuilder b = new StringBuilder();
    List<NFMinutia> minutiae = r.getMinutiae();
    b.append(file).append(": ").append(summary(r)).append('\n');
    if (r.getMinutiaCount() > minutiae.size()) {
      b.append("(the record announces ").append(r.getMinutiaCount())
          .append(" minutiae but holds ").append(minutiae.size()).append(")\n");
    }
    if (!minutiae.isEmpty()) {
      b.append("\nminutiae:\n");
      b.append(String.format(Locale.ROOT, "%6s %6s  %-11s %5s %7s %7s %9s %5s%n", "x", "y",
          "type", "angle", "degrees", "quality", "curvature", "g"));
      for (NFMinutia m : minutiae) {
        b.append(String.format(Locale.ROOT, "%6d %6d  %-11s %5d %7s %7s %9s %5s%n", m.getX(),
            m.getY(), typeName(m.getType()), m.getAngle(), degrees(m.getAngle()),
            optional(m.getQuality(), "-"), optional(m.getCurvature(), "-"),
            optional(m.getG(), "-")));
      }
    }
    if (!r.getCores().isEmpty()) {
      b.append("\ncores:\n");
      b.append(String.format(Locale.ROOT, "%6s %6s %5s %7s%n", "x", "y", "angle", "degrees"));
      for (NFCore c : r.getCores()) {
        b.append(String.format(Locale.ROOT, "%6d %6d %5d %7s%n", c.getX(), c.getY(),
            c.getAngle(), degrees(c.getAngle())));
      }
    }
    if (!r.getDeltas().isEmpty()) {
      b.append("\ndeltas:\n");
      b.append(String.format(Locale.ROOT, "%6s %6s %8s %8s %8s%n", "x", "y", "angle 1", "angle 2",
          "angle 3"));
      for (NFDelta d : r.getDeltas()) {
        b.append(String.format(Locale.ROOT, "%6d %6d %8d %8d %8d%n", d.getX(), d.getY(),
            d.getAngle1(), d.getAngle2(), d.getAngle3()));
      }
    }
    if (!r.getDoubleCores().isEmpty()) {
      b.append("\ndouble cores:\n");
      b.append(String.format(Locale.ROOT, "%6s %6s%n", "x", "y"));
      for (NFDoubleCore c : r.getDoubleCores()) {
        b.append(String.format(Locale.ROOT, "%6d %6d%n", c.getX(), c.getY()));
      }
    }
    return b.toString();
  }

  static String json(NFRecord r) {
    StringBuilder b = new StringBuilder("{\n  \"minutiae\": [");
    String sep = "";
    for (NFMinutia m : r.getMinutiae()) {
      b.append(sep).append(String.format(Locale.ROOT,
          "\n    {\"x\": %d, \"y\": %d, \"type\": %d, \"kind\": \"%s\", \"angle\": %d, "
              + "\"degrees\": %s, \"quality\": %s, \"curvature\": %s, \"g\": %s}",
          m.getX(), m.getY(), m.getType(), typeName(m.getType()), m.getAngle(),
          degrees(m.getAngle()), optional(m.getQuality(), "null"),
          optional(m.getCurvature(), "null"), optional(m.getG(), "null")));
      sep = ",";
    }
    b.append(sep.isEmpty() ? "" : "\n  ").append("],\n  \"cores\": [");
    sep = "";
    for (NFCore c : r.getCores()) {
      b.append(sep).append(String.format(Locale.ROOT,
          "\n    {\"x\": %d, \"y\": %d, \"angle\": %d, \"degrees\": %s}", c.getX(), c.getY(),
          c.getAngle(), degrees(c.getAngle())));
      sep = ",";
    }
    b.append(sep.isEmpty() ? "" : "\n  ").append("],\n  \"deltas\": [");
    sep = "";
    for (NFDelta d : r.getDeltas()) {
      b.append(sep).append(String.format(Locale.ROOT,
          "\n    {\"x\": %d, \"y\": %d, \"angles\": [%d, %d, %d]}", d.getX(), d.getY(),
          d.getAngle1(), d.getAngle2(), d.getAngle3()));
      sep = ",";
    }
    b.append(sep.isEmpty() ? "" : "\n  ").append("],\n  \"doubleCores\": [");
    sep = "";
    for (NFDoubleCore c : r.getDoubleCores()) {
      b.append(sep).append(
          String.format(Locale.ROOT, "\n    {\"x\": %d, \"y\": %d}", c.getX(), c.getY()));
      sep = ",";
    }
    b.append(sep.isEmpty() ? "" : "\n  ").append("],\n  \"announcedMinutiae\": ")
        .append(r.getMinutiaCount()).append("\n}\n");
    return b.toString();
  }
}
