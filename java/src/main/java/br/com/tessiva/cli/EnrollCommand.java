package br.com.tessiva.cli;

import br.com.tessiva.base.FingerprintBase;
import br.com.tessiva.base.FingerprintBaseException;
import java.io.PrintStream;
import java.util.Set;

/** "dactyra enroll": one finger of a person into a fingerprint base, from pictures of it. */
final class EnrollCommand implements Command {
  @Override
  public String name() {
    return "enroll";
  }

  @Override
  public String summary() {
    return "enroll a finger into a fingerprint base from pictures of it";
  }

  @Override
  public String help() {
    return "Usage: dactyra enroll --db FILE --code CODE [--finger N] IMAGE IMAGE IMAGE\n"
        + "Enrolls one finger of the person CODE into the fingerprint base FILE (made when\n"
        + "missing) from pictures of that finger: three, as a reader's enrollment takes them, or\n"
        + "one to ten. Every picture must give a usable template and each must be alike enough to\n"
        + "at least one of the others; otherwise nothing is enrolled. Prints the new entry.\n\n"
        + "  --db FILE     the fingerprint base\n"
        + "  --code CODE   the person's code (1 to 256 characters)\n"
        + "  --finger N    the finger position code: 0 unknown (default), 1-5 right thumb to\n"
        + "                little finger, 6-10 left thumb to little finger\n";
  }

  @Override
  public int run(String[] argv, PrintStream out, PrintStream err) throws Exception {
    Args args = new Args("enroll", argv, Set.of("--db", "--code", "--finger"), Set.of());
    String db = Bases.dbOption("enroll", args);
    String code = args.get("--code", null);
    if (code == null || code.isEmpty()) throw CliException.usage("enroll: --code CODE is needed");
    int finger = args.integer("enroll", "--finger", 0, 0, 15);
    int count = args.operands().size();
    if (count < 1 || count > 10) {
      throw CliException.usage("enroll: one to ten pictures are needed, not " + count);
    }
    var images = Bases.images(args.operands());
    try (FingerprintBase base = Bases.open("enroll", db, true)) {
      int id = base.enroll(code, finger, images);
      out.println("enrolled " + code + " finger " + finger + " as entry " + id + " from " + count
          + (count == 1 ? " picture" : " pictures"));
      return 0;
    } catch (FingerprintBaseException e) {
      throw CliException.failure("enroll: " + Dactyra.oneLine(e.getMessage()));
    }
  }
}
