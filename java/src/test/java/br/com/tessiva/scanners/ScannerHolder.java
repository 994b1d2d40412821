package br.com.tessiva.scanners;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;

/**
 * A second process for the tests: captures on the reader named by its argument and obeys lines
 * on standard input ("stop", "start", "exit": end the process while capturing, "stop-during-count":
 * see {@link #stopDuringCount}). Answers "started", "stopped" or "failed: " and the message on
 * standard output.
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
          case "stop-during-count":
            System.out.println("listener: " + stopDuringCount(scanner));
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

  /**
   * Three threads around one capturing scanner: a stop that holds the library's lock and waits for
   * the event thread, a count that waits for that lock, and the scanner's listener, which asks for
   * the count too. Answers what the listener's call gave, once all three have returned (a deadlock
   * never answers: the test that drives this process bounds its wait).
   */
  static String stopDuringCount(Scanner scanner) throws Exception {
    CountDownLatch inListener = new CountDownLatch(1);
    CountDownLatch go = new CountDownLatch(1);
    AtomicReference<String> answer = new AtomicReference<>("no call");
    scanner.addScanListener(
        event -> {
          if (inListener.getCount() == 0) {
            return;
          }
          inListener.countDown();
          try {
            go.await();
            answer.set("counted " + ScannerMan.getScannerCount());
          } catch (ScanManException e) {
            answer.set(e.getMessage());
          } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
          }
        });
    if (!inListener.await(30, TimeUnit.SECONDS)) {
      return "no event";
    }
    Thread stop = new Thread(() -> quietly(scanner::stopCapturing));
    stop.start();
    Thread.sleep(300); // the stop holds the lock and waits for the listener
    Thread count = new Thread(() -> quietly(ScannerMan::getScannerCount));
    count.start();
    Thread.sleep(300); // the count holds ScannerMan's monitor, or waits without it
    go.countDown();
    stop.join();
    count.join();
    return answer.get();
  }

  interface Call {
    void run() throws ScanManException;
  }

  static void quietly(Call call) {
    try {
      call.run();
    } catch (ScanManException e) {
      System.out.println("failed: " + e.getMessage());
    }
  }
}
