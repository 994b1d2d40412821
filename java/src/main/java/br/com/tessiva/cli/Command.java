package br.com.tessiva.cli;

import java.io.PrintStream;

/** One command of the tool: its name, its help text and its work. */
interface Command {
  /** The word that selects it: "readers", "capture", ... */
  String name();

  /** One line for the tool's own help. */
  String summary();

  /** The full help printed by "--help": usage line first. */
  String help();

  /**
   * Does the work with the arguments after the command's name ({@code --help} is handled before).
   * Results go to {@code out}, progress and warnings to {@code err}.
   *
   * @return the exit code
   * @throws CliException for a usage mistake or a failure, with its one-line message
   */
  int run(String[] args, PrintStream out, PrintStream err) throws Exception;
}
