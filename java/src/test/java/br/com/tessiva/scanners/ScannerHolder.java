package br.com.tessiva.scanners;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;

/**
 * A second process for the tests: captures on the reader named by its argument and obeys lines
 * on standard input ("stop", "start", "exit": end the process while capturing). Answers "started",
 * "stopped" or "failed: " and the message on standard output.
 */
public final class ScannerHolder {
  private ScannerHolder() {}

  public static void main(String[] args) throws Exception {
    Scanner scanner = null;
    for (Scanner s : ScannerMan.getScanners()) {
      if (s.getId().equals(args[0])) {
        scanner = s;
      }
    }
    if (scanner == null) {
      System.out.println("failed: no reader " + args[0]);
      return;
    }
    BufferedReader in =
        new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
    String command = "start";
    while (command != null) {
      try {
        switch (command) {
          case "start":
            scanner.startCapturing();
            System.out.println("started");
            break;
          case "stop":
            scanner.stopCapturing();
            System.out.println("stopped");
            break;
          case "exit":
            System.exit(0);
            break;
          default:
            System.out.println("failed: unknown command " + command);
        }
      } catch (ScanManException e) {
        System.out.println("failed: " + e.getMessage());
      }
      System.out.flush();
      command = in.readLine();
    }
  }
}
