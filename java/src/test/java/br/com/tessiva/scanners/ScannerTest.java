package br.com.tessiva.scanners;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;
import java.util.function.BooleanSupplier;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * The scanner API over the test plug-in copies in the library's folder: vxr_test (readers A and
 * B), vxr_cis and vxr_cisx. Each copy reads its behaviour from its .conf file in $VXR_TEST_DIR.
 */
class ScannerTest {
  static final String PREFIX = "J" + ProcessHandle.current().pid();
  static Path dir;

  static void configure(String stem, String config) throws IOException {
    Path tmp = dir.resolve(stem + ".conf.new");
    Files.writeString(tmp, config);
    Files.move(tmp, dir.resolve(stem + ".conf"), java.nio.file.StandardCopyOption.ATOMIC_MOVE);
  }

  static void readers(String extra) throws IOException {
    configure("vxr_test", "prefix=" + PREFIX + "\ndevice=A\ndevice=B\n" + extra);
  }

  static List<String> log(String stem) throws IOException {
    Path file = dir.resolve(stem + ".log");
    return Files.exists(file) ? Files.readAllLines(file) : List.of();
  }

  static long count(String stem, String start) throws IOException {
    return log(stem).stream().filter(l -> l.startsWith(start)).count();
  }

  // A bound on liveness only: generous, so that a loaded machine (two cores
  // building while the suite runs) does not fail a correct run.
  static boolean waitFor(BooleanSupplier condition) throws InterruptedException {
    long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(30);
    while (System.nanoTime() < end) {
      if (condition.getAsBoolean()) {
        return true;
      }
      Thread.sleep(2);
    }
    return condition.getAsBoolean();
  }

  @BeforeAll
  static void setUpAll() throws IOException {
    dir = Paths.get(System.getenv("VXR_TEST_DIR"));
    Files.createDirectories(dir);
    // Logs of earlier runs would count too.
    for (String stem : new String[] {"vxr_test", "vxr_cis", "vxr_cisx"}) {
      Files.deleteIfExists(dir.resolve(stem + ".log"));
    }
    readers("idle=block\n");
    configure("vxr_cis", "prefix=CIS\ndevice=" + PREFIX + "\nidle=block\ncommand_answer=4f4b\n");
    configure("vxr_cisx", "prefix=cisX\ndevice=" + PREFIX + "\nidle=block\ncommand_answer=4f4b\n");
  }

  @BeforeEach
  void setUp() throws IOException {
    readers("idle=block\n");
  }

  @AfterEach
  void tearDown() throws ScanManException {
    ScannerMan.uninitialize();
  }

  /** The scanner of reader `serial` of vxr_test. */
  static Scanner scanner(String serial) throws ScanManException {
    for (Scanner s : ScannerMan.getScanners()) {
      if (s.getId().equals(PREFIX + "\\" + serial)) {
        return s;
      }
    }
    throw new AssertionError("no reader " + serial);
  }

  static final class Recorder implements ScanListener {
    final List<Scanner.ScanEvent> events = Collections.synchronizedList(new ArrayList<>());
    final Set<Thread> threads = Collections.synchronizedSet(new HashSet<>());

    @Override
    public void scanned(Scanner.ScanEvent event) {
      threads.add(Thread.currentThread());
      events.add(event);
    }
  }

  @Test
  void handlesAreStableAndTheCountIsNoIndex() throws Exception {
    int count = ScannerMan.getScannerCount();
    assertTrue(count >= 4, "A, B and the two cis readers: " + count);
    long first = ScannerMan.innerGetScanner(0);
    assertNotEquals(0, first);
    assertEquals(first, ScannerMan.innerGetScanner(0));
    assertSame(ScannerMan.getScanner(0), ScannerMan.getScanner(0));
    assertEquals(0, ScannerMan.innerGetScanner(count));
    assertNull(ScannerMan.getScanner(count));
    assertThrows(ScanManException.class, () -> ScannerMan.getScanner(-1));
  }

  @Test
  void uninitializeInvalidatesHandlesAndForeignOnesAreRefused() throws Exception {
    Scanner old = scanner("A");
    long oldHandle = old.handle();
    ScannerMan.uninitialize();
    ScanManException e = assertThrows(ScanManException.class, old::isCapturing);
    assertEquals("Invalid scanner handle", e.getMessage());
    assertThrows(ScanManException.class, old::startCapturing);
    assertThrows(ScanManException.class, old::getId);
    for (long foreign : new long[] {0, -1, 12345, Long.MAX_VALUE}) {
      assertThrows(ScanManException.class, () -> new Scanner(foreign).stopCapturing());
    }
    Scanner fresh = scanner("A");
    assertNotEquals(oldHandle, fresh.handle());
    assertFalse(fresh.isCapturing());
  }

  @Test
  void stoppingAnIdleScannerDoesNothing() throws Exception {
    Scanner s = scanner("B");
    s.stopCapturing();
    assertFalse(s.isCapturing());
  }

  @Test
  void aThreeByTwoImageArrivesRowByRow() throws Exception {
    readers("max=3x2\nimages=1\nidle=block\n");
    Scanner s = scanner("A");
    Recorder recorder = new Recorder();
    s.addScanListener(recorder);
    s.startCapturing();
    assertTrue(s.isCapturing());
    assertTrue(waitFor(() -> recorder.events.size() == 1));
    s.stopCapturing();
    assertFalse(s.isCapturing());
    Scanner.ScanEvent event = recorder.events.get(0);
    assertEquals(ScanEventKind.ImageScanned, event.kind);
    assertEquals(3, event.image.getWidth());
    assertEquals(2, event.image.getHeight());
    assertArrayEquals(new byte[] {0, 1, 2, 3, 4, 5}, event.image.buffer);
  }

  @Test
  void imagesDuringASlowListenerGiveOneMoreEventWithTheLatest() throws Exception {
    readers("max=4x4\nimages=3\nimage_delay_ms=40\nidle=block\n");
    Scanner s = scanner("A");
    Recorder recorder = new Recorder();
    s.addScanListener(
        event -> {
          recorder.scanned(event);
          if (recorder.events.size() == 1) {
            try {
              Thread.sleep(1500);
            } catch (InterruptedException e) {
              Thread.currentThread().interrupt();
            }
          }
        });
    s.startCapturing();
    assertTrue(waitFor(() -> recorder.events.size() == 2));
    Thread.sleep(300);
    s.stopCapturing();
    assertEquals(2, recorder.events.size());
    assertEquals(0, recorder.events.get(0).image.getPixel(0, 0));
    assertEquals(2, recorder.events.get(1).image.getPixel(0, 0), "the later image");
  }

  @Test
  void aThrowingListenerDoesNotEndDelivery() throws Exception {
    readers("max=2x2\nimages=-1\nimage_delay_ms=20\n");
    Scanner s = scanner("A");
    AtomicInteger seen = new AtomicInteger();
    s.addScanListener(
        event -> {
          seen.incrementAndGet();
          throw new IllegalStateException("listener failure thrown on purpose by the test");
        });
    s.startCapturing();
    assertTrue(waitFor(() -> seen.get() >= 3), "events after the first throw: " + seen.get());
    assertTrue(s.isCapturing());
    s.stopCapturing();
  }

  @Test
  void aSecondStartStartsNoSecondEventThread() throws Exception {
    readers("max=2x2\nimages=-1\nimage_delay_ms=5\n");
    Scanner s = scanner("A");
    Recorder recorder = new Recorder();
    s.addScanListener(recorder);
    s.startCapturing();
    s.startCapturing();
    assertTrue(waitFor(() -> recorder.events.size() >= 10));
    s.stopCapturing();
    assertFalse(s.isCapturing());
    assertEquals(1, recorder.threads.size());
  }

  /** A scanner whose image class breaks the contract: no (int, int) constructor. */
  static final class BrokenScanner extends Scanner {
    BrokenScanner(long handle) {
      super(handle);
    }

    public static Class<?> getImageClass() {
      return Object.class;
    }
  }

  @Test
  void anEventThreadEndedByABrokenContractLeavesTheScannerCapturing() throws Exception {
    readers("max=2x2\nimages=1\nidle=block\n");
    long handle = scanner("A").handle();
    BrokenScanner broken = new BrokenScanner(handle);
    AtomicInteger events = new AtomicInteger();
    broken.addScanListener(e -> events.incrementAndGet());
    long before = count("vxr_test", "GetImage");
    broken.startCapturing();
    // The image was fetched and the next call waits: the event has been tried.
    assertTrue(waitFor(() -> {
      try {
        return count("vxr_test", "GetImage") >= before + 2;
      } catch (IOException e) {
        return false;
      }
    }));
    Thread.sleep(200);
    assertTrue(broken.isCapturing());
    assertEquals(0, events.get());
    broken.stopCapturing();
    assertFalse(broken.isCapturing());
  }

  @Test
  void failuresArriveInPortugueseWithTheirAccents() throws Exception {
    Scanner b = scanner("B");
    configure("vxr_test", "prefix=" + PREFIX + "\ndevice=A\nidle=block\n");
    ScanManException e = assertThrows(ScanManException.class, b::startCapturing);
    assertTrue(
        e.getMessage().startsWith("Leitor não conectado: " + PREFIX + "\\B\nTotal de leitores "
            + "conectados: "),
        e.getMessage());
    assertFalse(b.isCapturing());
  }

  @Test
  void aListenerMayStopItsOwnScanner() throws Exception {
    readers("max=2x2\nimages=-1\nimage_delay_ms=5\n");
    Scanner s = scanner("A");
    CountDownLatch stopped = new CountDownLatch(1);
    AtomicReference<Throwable> failure = new AtomicReference<>();
    s.addScanListener(
        event -> {
          try {
            s.stopCapturing();
          } catch (Throwable t) {
            failure.set(t);
          }
          stopped.countDown();
        });
    s.startCapturing();
    assertTrue(stopped.await(30, TimeUnit.SECONDS), "the stop returned");
    assertNull(failure.get());
    assertFalse(s.isCapturing());
    // The reader was given back: it can start again.
    s.startCapturing();
    s.stopCapturing();
  }

  @Test
  void aListenerCallingBackDuringAnotherThreadsStopIsRefused() throws Exception {
    readers("max=2x2\nimages=1\nidle=block\n");
    Scanner s = scanner("A");
    CountDownLatch inListener = new CountDownLatch(1);
    CountDownLatch stopping = new CountDownLatch(1);
    AtomicReference<String> refusal = new AtomicReference<>();
    s.addScanListener(
        event -> {
          inListener.countDown();
          try {
            stopping.await();
            Thread.sleep(1000); // the stop now holds the lock and waits for us
            s.getId();
            refusal.set("not refused");
          } catch (ScanManException e) {
            refusal.set(e.getMessage());
          } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
          }
        });
    s.startCapturing();
    assertTrue(inListener.await(30, TimeUnit.SECONDS));
    stopping.countDown();
    s.stopCapturing();
    assertEquals("Chamada recusada: a captura deste leitor está sendo encerrada.", refusal.get());
    assertFalse(s.isCapturing());
  }

  @Test
  void cisReadersReceiveLfdAndOthersDoNot() throws Exception {
    for (String prefix : new String[] {"CIS", "cisX"}) {
      String stem = prefix.equals("CIS") ? "vxr_cis" : "vxr_cisx";
      Scanner s = null;
      for (Scanner each : ScannerMan.getScanners()) {
        if (each.getId().equals(prefix + "\\" + PREFIX)) {
          s = each;
        }
      }
      assertNotNull(s, prefix);
      s.startCapturing();
      s.stopCapturing();
      long lfd =
          log(stem).stream()
              .filter(l -> l.startsWith("SendCommand") && l.contains("[LFD] [2,3]"))
              .count();
      assertEquals(prefix.equals("CIS") ? 1 : 0, lfd, prefix);
    }
  }

  @Test
  void captureSessionHandsOutImagesAndStopsWhatItStarted() throws Exception {
    readers("max=3x3\nimages=2\nimage_delay_ms=10\nidle=block\n");
    Scanner s = scanner("B");
    try (CaptureSession session = s.openSession()) {
      assertTrue(s.isCapturing());
      ScanImage image = session.nextImage(Duration.ofSeconds(10));
      assertNotNull(image);
      assertEquals(9, image.buffer.length);
    }
    assertFalse(s.isCapturing());
  }

  // --- Two processes on one reader ------------------------------------------------------

  static final class Child implements AutoCloseable {
    final Process process;
    final BufferedReader out;
    final Writer in;

    Child(String serial) throws IOException {
      String javaExe = Paths.get(System.getProperty("java.home"), "bin", "java").toString();
      String classPath =
          location(ScannerHolder.class) + java.io.File.pathSeparator + location(Scanner.class);
      ProcessBuilder pb =
          new ProcessBuilder(
              javaExe,
              "-Xcheck:jni",
              "-Djava.library.path=" + System.getProperty("java.library.path"),
              "-cp",
              classPath,
              ScannerHolder.class.getName(),
              PREFIX + "\\" + serial);
      pb.redirectError(ProcessBuilder.Redirect.INHERIT);
      process = pb.start();
      out = new BufferedReader(new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
      in = new OutputStreamWriter(process.getOutputStream(), StandardCharsets.UTF_8);
    }

    static String location(Class<?> c) {
      try {
        return Paths.get(c.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
      } catch (java.net.URISyntaxException e) {
        throw new IllegalStateException(e);
      }
    }

    String line() throws IOException {
      return out.readLine();
    }

    void send(String command) throws IOException {
      in.write(command + "\n");
      in.flush();
    }

    @Override
    public void close() {
      process.destroyForcibly();
      try {
        process.waitFor(10, TimeUnit.SECONDS);
      } catch (InterruptedException e) {
        Thread.currentThread().interrupt();
      }
    }
  }

  @Test
  void aSecondProcessIsRefusedUntilTheFirstStopsOrDies() throws Exception {
    Scanner s = scanner("A");
    String busy = "O leitor " + PREFIX + "\\A já está sendo usado por outra aplicação.";
    try (Child child = new Child("A")) {
      assertEquals("started", child.line());
      ScanManException e = assertThrows(ScanManException.class, s::startCapturing);
      assertEquals(busy, e.getMessage());
      assertFalse(s.isCapturing());
      child.send("stop");
      assertEquals("stopped", child.line());
      s.startCapturing();
      s.stopCapturing();

      child.send("start");
      assertEquals("started", child.line());
      assertEquals(busy, assertThrows(ScanManException.class, s::startCapturing).getMessage());
      child.process.destroyForcibly(); // SIGKILL: no chance to let go
      assertTrue(child.process.waitFor(10, TimeUnit.SECONDS));
      s.startCapturing();
      s.stopCapturing();
    }
  }

  @Test
  void aListenerAskingForTheCountWhileAStopAndACountWaitIsRefusedNotDeadlocked() throws Exception {
    readers("max=2x2\nimages=-1\nimage_delay_ms=5\n");
    try (Child child = new Child("A")) {
      assertEquals("started", child.line());
      child.send("stop-during-count");
      child.send("exit");
      assertTrue(child.process.waitFor(60, TimeUnit.SECONDS), "the three threads returned");
      assertEquals(
          "listener: Chamada recusada: a captura deste leitor está sendo encerrada.",
          child.line());
    }
  }

  @Test
  void aProcessEndingWhileCapturingClosesTheReaderFirst() throws Exception {
    long closesBefore = count("vxr_test", "CloseDevice");
    try (Child child = new Child("B")) {
      assertEquals("started", child.line());
      child.send("exit");
      assertTrue(child.process.waitFor(20, TimeUnit.SECONDS));
      assertEquals(0, child.process.exitValue());
    }
    assertEquals(closesBefore + 1, count("vxr_test", "CloseDevice"));
  }
}
