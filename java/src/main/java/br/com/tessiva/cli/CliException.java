package br.com.tessiva.cli;

/**
 * A command that cannot go on: its one-line message is printed after "dactyra: " and the tool
 * exits with {@link #code()}.
 */
final class CliException extends Exception {
  private static final long serialVersionUID = 1L;

  private final int code;

  private CliException(int code, String message, Throwable cause) {
    super(message, cause);
    this.code = code;
  }

  /** A mistake on the command line (unknown option, bad value, missing argument). */
  static CliException usage(String message) {
    return new CliException(Dactyra.EXIT_USAGE, message, null);
  }

  /** A failure of the work asked for (missing file, bad image, reader in use, ...). */
  static CliException failure(String message) {
    return new CliException(Dactyra.EXIT_FAILURE, message, null);
  }

  static CliException failure(String message, Throwable cause) {
    return new CliException(Dactyra.EXIT_FAILURE, message, cause);
  }

  int code() {
    return code;
  }
}
