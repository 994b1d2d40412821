package br.com.tessiva.cli;

import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;

/**
 * The arguments of one command: options "--name value", "--name=value" or flags "--name", and
 * the operands in their order. "--" ends the options. Unknown options are usage errors.
 */
final class Args {
  private final Map<String, String> values = new HashMap<>();
  private final List<String> operands = new ArrayList<>();

  /**
   * Parses {@code args} for the command {@code command}, whose options taking a value are {@code
   * valued} and whose flags are {@code flags} (names with their leading "--").
   */
  Args(String command, String[] args, Set<String> valued, Set<String> flags)
      throws CliException {
    boolean options = true;
    for (int i = 0; i < args.length; i++) {
      String a = args[i];
      if (options && a.equals("--")) {
        options = false;
      } else if (options && a.startsWith("-") && a.length() > 1) {
        String name = a;
        String value = null;
        int eq = a.indexOf('=');
        if (a.startsWith("--") && eq > 0) {
          name = a.substring(0, eq);
          value = a.substring(eq + 1);
        }
        if (name.equals("-h")) name = "--help";
        if (valued.contains(name)) {
          if (value == null) {
            if (i + 1 >= args.length) {
              throw CliException.usage(command + ": " + name + " needs a value");
            }
            value = args[++i];
          }
        } else if (flags.contains(name) || name.equals("--help")) {
          if (value != null) {
            throw CliException.usage(command + ": " + name + " takes no value");
          }
          value = "";
        } else {
          throw CliException.usage(command + ": unknown option " + name);
        }
        if (values.put(name, value) != null) {
          throw CliException.usage(command + ": " + name + " given twice");
        }
      } else {
        operands.add(a);
      }
    }
  }

  boolean has(String name) {
    return values.containsKey(name);
  }

  String get(String name, String otherwise) {
    return values.getOrDefault(name, otherwise);
  }

  List<String> operands() {
    return operands;
  }

  /** The value of {@code name} as a whole number from {@code min} to {@code max}. */
  int integer(String command, String name, int otherwise, int min, int max) throws CliException {
    String v = values.get(name);
    if (v == null) return otherwise;
    try {
      int n = Integer.parseInt(v.trim());
      if (n >= min && n <= max) return n;
    } catch (NumberFormatException e) {
      // reported below
    }
    throw CliException.usage(command + ": " + name + " must be a whole number from " + min + " to "
        + max + ", not '" + v + "'");
  }
}
