package br.com.tessiva.cli;

import br.com.tessiva.NativeLibrary;
import java.io.PrintStream;
import java.util.Arrays;
import java.util.List;

/**
 * The command-line tool {@code dactyra}: readers, capture, extraction and templates without
 * writing Java. Run by the launcher script, which puts the native library on {@code
 * java.library.path}.
 *
 * <p>Exit codes: 0 done, {@link #EXIT_FAILURE} when the work could not be done (a missing or bad
 * file, a reader that is absent or in use, no template), {@link #EXIT_USAGE} for a mistake on the
 * command line, {@link #EXIT_INTERNAL} for a fault of the tool or the library. Every error is one
 * line on standard error beginning "dactyra: ".
 */
public final class Dactyra {
  public static final int EXIT_FAILURE = 1;
  public static final int EXIT_USAGE = 2;
  public static final int EXIT_INTERNAL = 3;

  static final List<Command> COMMANDS = List.of(new ReadersCommand(), new CaptureCommand(),
      new ExtractCommand(), new ShowCommand(), new DrawCommand(), new EnrollCommand(),
      new IdentifyCommand(), new VerifyCommand(), new DbCommand());

  private Dactyra() {}

  public static void main(String[] args) {
    int code = run(args, System.out, System.err);
    System.out.flush();
    System.exit(code);
  }

  /** Runs one command line and returns its exit code; never throws. */
  static int run(String[] args, PrintStream out, PrintStream err) {
    String name = args.length > 0 ? args[0] : "";
    try {
      if (args.length == 0) {
        throw CliException.usage("no command given (see dactyra --help)");
      }
      if (name.equals("--help") || name.equals("-h") || name.equals("help")) {
        if (args.length > 1 && !name.equals("help")) {
          throw CliException.usage("--help takes no arguments (see dactyra --help)");
        }
        if (args.length > 1) {
          Command c = find(args[1]);
          if (c == null) throw CliException.usage("unknown command '" + args[1] + "'");
          out.print(c.help());
        } else {
          out.print(help());
        }
        return 0;
      }
      Command command = find(name);
      if (command == null) {
        throw CliException.usage("unknown command '" + name + "' (see dactyra --help)");
      }
      String[] rest = Arrays.copyOfRange(args, 1, args.length);
      if (asksHelp(rest)) {
        out.print(command.help());
        return 0;
      }
      // Every command needs the library: a missing one is told once, here, and not as a
      // class that failed to initialise at some later use.
      NativeLibrary.ensureLoaded();
      try {
        return command.run(rest, out, err);
      } catch (CliException e) {
        if (e.code() == EXIT_USAGE) {
          throw CliException.usage(e.getMessage() + " (see dactyra " + name + " --help)");
        }
        throw e;
      }
    } catch (CliException e) {
      err.println("dactyra: " + oneLine(e.getMessage()));
      return e.code();
    } catch (UnsatisfiedLinkError e) {
      err.println("dactyra: cannot load the native library: " + oneLine(e.getMessage()));
      return EXIT_FAILURE;
    } catch (Throwable t) {
      err.println("dactyra: internal error: " + describe(t));
      return EXIT_INTERNAL;
    }
  }

  private static Command find(String name) {
    for (Command c : COMMANDS) {
      if (c.name().equals(name)) return c;
    }
    return null;
  }

  // "--help" or "-h" anywhere before a "--".
  private static boolean asksHelp(String[] args) {
    for (String a : args) {
      if (a.equals("--")) return false;
      if (a.equals("--help") || a.equals("-h")) return true;
    }
    return false;
  }

  static String help() {
    StringBuilder b = new StringBuilder();
    b.append("Usage: dactyra COMMAND [OPTION]... [ARGUMENT]...\n");
    b.append("Fingerprint readers, images and templates from the command line.\n\nCommands:\n");
    for (Command c : COMMANDS) {
      b.append(String.format("  %-8s %s%n", c.name(), c.summary()));
    }
    b.append("\n'dactyra COMMAND --help' describes a command.\n");
    b.append("Exit codes: 0 done, 1 failed, 2 bad command line, 3 internal error.\n");
    return b.toString();
  }

  /** A message on one line: line breaks of library messages become spaces. */
  static String oneLine(String message) {
    if (message == null) return "(no message)";
    return message.strip().replaceAll("\\s*[\\r\\n]+\\s*", " ");
  }

  /** An exception as "Class: message" on one line. */
  static String describe(Throwable t) {
    String m = t.getMessage();
    return t.getClass().getSimpleName() + (m == null ? "" : ": " + oneLine(m));
  }
}
