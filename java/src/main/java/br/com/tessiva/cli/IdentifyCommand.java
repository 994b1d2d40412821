package br.com.tessiva.cli;

import br.com.tessiva.base.FingerprintBase;
import br.com.tessiva.base.FingerprintBaseException;
import java.io.PrintStream;
import java.nio.file.Paths;
import java.util.Optional;
import java.util.Set;

/** "dactyra identify": who each picture's finger belongs to, searched in a fingerprint base. */
final class IdentifyCommand implements Command {
  @Override
  public String name() {
    return "identify";
  }

  @Override
  public String summary() {
    return "find whose finger each picture shows in a fingerprint base";
  }

  @Override
  public String help() {
    return "Usage: dactyra identify --db FILE IMAGE...\n"
        + "Searches each picture in the fingerprint base FILE and prints one line per picture,\n"
        + "its fields separated by tabs: the picture, then the code, finger and score of the\n"
        + "entry found, or 'not found'. A recognised finger's count and date are updated.\n"
        + "Exit code 0 when every picture was found, 1 otherwise.\n\n"
        + "  --db FILE   the fingerprint base (it must exist)\n";
  }

  @Override
  public int run(String[] argv, PrintStream out, PrintStream err) throws Exception {
    Args args = new Args("identify", argv, Set.of("--db"), Set.of());
    String db = Bases.dbOption("identify", args);
    if (args.operands().isEmpty()) throw CliException.usage("identify: no image given");
    int missed = 0;
    try (FingerprintBase base = Bases.open("identify", db, false)) {
      for (String name : args.operands()) {
        try {
          Optional<FingerprintBase.Match> match = base.identify(Bases.picture(Paths.get(name)));
          if (match.isPresent()) {
            FingerprintBase.Match m = match.get();
            out.println(name + "\t" + m.code() + "\t" + m.finger() + "\t" + m.score());
          } else {
            out.println(name + "\tnot found");
            missed++;
          }
        } catch (CliException e) {
          err.println("dactyra: identify: " + Dactyra.oneLine(e.getMessage()));
          out.println(name + "\tnot found");
          missed++;
        } catch (FingerprintBaseException e) {
          err.println("dactyra: identify: " + name + ": " + Dactyra.oneLine(e.getMessage()));
          out.println(name + "\tnot found");
          missed++;
        }
      }
    }
    return missed == 0 ? 0 : Dactyra.EXIT_FAILURE;
  }
}
