package br.com.tessiva.fingers;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;

/** The call log of the recording engine (the file named by VX_RECORDER_LOG), and the test folder. */
final class EngineLog {
  private EngineLog() {}

  /** The private folder holding this VM's copy of libdactyra.so. */
  static Path libraryFolder() {
    return Paths.get(System.getProperty("dactyra.test.libdir"));
  }

  /** The recording engine as built. */
  static Path recorder() {
    return Paths.get(System.getProperty("dactyra.test.recorder"));
  }

  static Path file() {
    return Paths.get(System.getenv("VX_RECORDER_LOG"));
  }

  /** Every line written so far. */
  static List<String> lines() throws IOException {
    Path file = file();
    return Files.exists(file) ? Files.readAllLines(file) : List.of();
  }

  /** The lines written after the first {@code from}. */
  static List<String> since(int from) throws IOException {
    List<String> all = lines();
    return all.subList(Math.min(from, all.size()), all.size());
  }

  static long count(List<String> lines, String prefix) {
    return lines.stream().filter(l -> l.startsWith(prefix)).count();
  }
}
