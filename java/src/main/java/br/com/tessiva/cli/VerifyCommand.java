package br.com.tessiva.cli;

import br.com.tessiva.base.FingerprintBase;
import br.com.tessiva.base.FingerprintBaseException;
import java.io.PrintStream;
import java.nio.file.Paths;
import java.util.Set;

/** "dactyra verify": whether a picture's finger is one that a person enrolled. */
final class VerifyCommand implements Command {
  @Override
  public String name() {
    return "verify";
  }

  @Override
  public String summary() {
    return "check a picture against one person's fingers in a fingerprint base";
  }

  @Override
  public String help() {
    return "Usage: dactyra verify --db FILE --code CODE IMAGE\n"
        + "Compares the picture with the fingers enrolled under CODE in the fingerprint base\n"
        + "FILE and prints 'match' or 'no match' with the best score and the threshold.\n"
        + "Exit code 0 for a match, 1 otherwise.\n\n"
        + "  --db FILE     the fingerprint base (it must exist)\n"
        + "  --code CODE   the person's code\n";
  }

  @Override
  public int run(String[] argv, PrintStream out, PrintStream err) throws Exception {
    Args args = new Args("verify", argv, Set.of("--db", "--code"), Set.of());
    String db = Bases.dbOption("verify", args);
    String code = args.get("--code", null);
    if (code == null || code.isEmpty()) throw CliException.usage("verify: --code CODE is needed");
    if (args.operands().size() != 1) {
      throw CliException.usage("verify: one picture is needed, not " + args.operands().size());
    }
    var image = Bases.picture(Paths.get(args.operands().get(0)));
    try (FingerprintBase base = Bases.open("verify", db, false)) {
      if (!base.codes().contains(code)) {
        throw CliException.failure("verify: no finger is enrolled under " + code);
      }
      int score = base.verify(code, image);
      int threshold = base.thresholds().verify();
      boolean match = score >= threshold;
      out.println((match ? "match" : "no match") + ": " + code + " score " + score
          + " (threshold " + threshold + ")");
      return match ? 0 : Dactyra.EXIT_FAILURE;
    } catch (FingerprintBaseException e) {
      throw CliException.failure("verify: " + Dactyra.oneLine(e.getMessage()));
    }
  }
}
