package br.com.tessiva.cli;

import br.com.tessiva.base.FingerprintBase;
import br.com.tessiva.base.FingerprintBaseException;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.format.DateTimeFormatter;
import java.util.List;
import java.util.Set;

/** "dactyra db": what a fingerprint base holds, removing a person, compacting the file. */
final class DbCommand implements Command {
  private static final DateTimeFormatter DATE = DateTimeFormatter.ofPattern("yyyy-MM-dd HH:mm:ss");

  @Override
  public String name() {
    return "db";
  }

  @Override
  public String summary() {
    return "list, remove from or compact a fingerprint base";
  }

  @Override
  public String help() {
    return "Usage: dactyra db FILE list|remove CODE|compact\n"
        + "Works on the fingerprint base FILE (it must exist):\n"
        + "  list          one line per enrolled finger, fields separated by tabs: entry id,\n"
        + "                code, finger, enrolled, last recognised ('-' for never), times\n"
        + "                recognised; a header line first\n"
        + "  remove CODE   removes every finger of CODE (exit code 1 when it had none)\n"
        + "  compact       rewrites the file without the room removed entries left\n";
  }

  @Override
  public int run(String[] argv, PrintStream out, PrintStream err) throws Exception {
    Args args = new Args("db", argv, Set.of(), Set.of());
    List<String> ops = args.operands();
    if (ops.size() < 2) throw CliException.usage("db: FILE and an action are needed");
    String file = ops.get(0);
    String action = ops.get(1);
    int expected = action.equals("remove") ? 3 : 2;
    if (!Set.of("list", "remove", "compact").contains(action)) {
      throw CliException.usage("db: unknown action '" + action + "'");
    }
    if (ops.size() != expected) {
      throw CliException.usage("db: " + action + (expected == 3 ? " takes one code" : " takes nothing more"));
    }
    try (FingerprintBase base = Bases.open("db", file, false)) {
      switch (action) {
        case "list":
          out.println("ID\tCODE\tFINGER\tENROLLED\tLAST RECOGNISED\tRECOGNITIONS");
          for (FingerprintBase.Entry e : base.entries()) {
            out.println(e.id() + "\t" + e.code() + "\t" + e.finger() + "\t"
                + DATE.format(e.enrolled()) + "\t"
                + e.lastRecognised().map(DATE::format).orElse("-") + "\t" + e.recognitions());
          }
          return 0;
        case "remove":
          int removed = base.remove(ops.get(2));
          if (removed == 0) throw CliException.failure("db: no finger is enrolled under " + ops.get(2));
          out.println("removed " + removed + (removed == 1 ? " entry" : " entries") + " of "
              + ops.get(2));
          return 0;
        default:
          long before = size(base.path());
          base.compact();
          out.println("compacted " + file + ": " + before + " -> " + size(base.path()) + " bytes");
          return 0;
      }
    } catch (FingerprintBaseException e) {
      throw CliException.failure("db: " + Dactyra.oneLine(e.getMessage()));
    }
  }

  private static long size(Path file) {
    try {
      return Files.size(file);
    } catch (IOException e) {
      return -1;
    }
  }
}
