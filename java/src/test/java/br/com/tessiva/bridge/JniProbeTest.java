package br.com.tessiva.bridge;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import br.com.tessiva.scanners.ScanManException;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;

class JniProbeTest {
  // Every character class that modified UTF-8 treats specially: Latin-1,
  // BMP beyond Latin-1, a supplementary character (a surrogate pair) and U+0000.
  static final String AWKWARD = "Falha na leitura: ação, Größe, 指紋 \uD83D\uDE00 nul\u0000fim";

  @Test
  void convertingFrameDeliversTheFailureMessageUnchanged() {
    ScanManException e =
        assertThrows(ScanManException.class, () -> JniProbe.failInConvertingFrame(AWKWARD));
    assertEquals(AWKWARD, e.getMessage());
    assertTrue(JniProbe.scannersLockFree(), "the lock is released after the failure");
  }

  @Test
  void failuresOnManyThreadsAtOnceEachKeepTheirMessage() throws Exception {
    List<Thread> threads = new ArrayList<>();
    List<String> wrong = java.util.Collections.synchronizedList(new ArrayList<>());
    for (int t = 0; t < 6; t++) {
      final int id = t;
      threads.add(new Thread(() -> {
        for (int i = 0; i < 200; i++) {
          String message = "falha " + id + "/" + i + " ç";
          try {
            JniProbe.failInConvertingFrame(message);
            wrong.add("no exception for " + message);
          } catch (ScanManException e) {
            if (!message.equals(e.getMessage())) wrong.add(e.getMessage() + " for " + message);
          }
        }
      }));
    }
    for (Thread t : threads) t.start();
    for (Thread t : threads) t.join();
    assertEquals(List.of(), wrong);
    assertTrue(JniProbe.scannersLockFree());
  }

  @Test
  void failedMonitorEnterIsAThreadingError() {
    Object monitor = new Object();
    ScanManException e =
        assertThrows(
            ScanManException.class, () -> JniProbe.monitorFrameWithFailingMonitor(monitor));
    assertEquals("Threading error", e.getMessage());
    assertFalse(JniProbe.lastBodyRan());
    assertTrue(JniProbe.scannersLockFree());
    assertFalse(Thread.holdsLock(monitor));
  }

  @Test
  void monitorFrameHoldsTheMonitorOnlyForTheCall() throws Exception {
    Object monitor = new Object();
    assertEquals(5, JniProbe.monitorFrame(monitor));
    assertTrue(JniProbe.lastBodyRan());
    assertFalse(Thread.holdsLock(monitor));
    assertTrue(JniProbe.scannersLockFree());
    // Another thread holding the monitor keeps the frame waiting until it lets go.
    List<Integer> results = new ArrayList<>();
    Thread other;
    synchronized (monitor) {
      other =
          new Thread(
              () -> {
                try {
                  results.add(JniProbe.monitorFrame(monitor));
                } catch (ScanManException e) {
                  results.add(-1);
                }
              });
      other.start();
      Thread.sleep(50);
      assertTrue(results.isEmpty());
    }
    other.join();
    assertEquals(List.of(5), results);
  }

  static final class Callback {
    volatile Thread thread;
    volatile String text;

    void callback(String text) {
      this.thread = Thread.currentThread();
      this.text = text;
    }
  }

  @Test
  void libraryThreadAttachesAndCallsJava() {
    Callback target = new Callback();
    assertTrue(JniProbe.callFromLibraryThread(target, AWKWARD, false));
    assertEquals(AWKWARD, target.text);
    assertNotSame(Thread.currentThread(), target.thread);
    assertFalse(target.thread.isAlive(), "the thread detached and ended");
  }

  @Test
  void failureOnALibraryThreadIsDropped() {
    Callback target = new Callback();
    assertFalse(JniProbe.callFromLibraryThread(target, "x", true));
    assertEquals("x", target.text, "the work ran up to its failure");
  }

  @Test
  void aJavaThreadIsUsedAsItIsAndStaysAttached() {
    Callback target = new Callback();
    assertTrue(JniProbe.callOnThisThread(target));
    assertSame(Thread.currentThread(), target.thread);
    assertEquals("here", target.text);
    // Still attached: Java calls and further natives work on this thread.
    assertEquals("ok", JniProbe.roundTrip("ok"));
  }

  static final class ThrowingCallback {
    void callback(String text) {
      throw new IllegalStateException("listener failed: " + text);
    }
  }

  @Test
  void javaExceptionOnALibraryThreadIsDroppedAtDetach() {
    assertFalse(JniProbe.callFromLibraryThread(new ThrowingCallback(), "x", false));
  }

  static final class Holder {
    byte[] bytes;
    String text;
    int number;
  }

  @Test
  void objectFieldClassIsGuessedFromTheValue() {
    Holder h = new Holder();
    byte[] b = {1, 2, 3};
    JniProbe.setGuessed(h, "bytes", b);
    assertSame(b, h.bytes);
    JniProbe.setGuessed(h, "text", AWKWARD);
    assertEquals(AWKWARD, h.text);
    assertSame(b, JniProbe.getObjectField(h, "bytes", "[B"));
    assertEquals(AWKWARD, JniProbe.getObjectField(h, "text", "java/lang/String"));
  }

  @Test
  void objectFieldFailures() {
    Holder h = new Holder();
    RuntimeException e =
        assertThrows(RuntimeException.class, () -> JniProbe.setGuessed(h, "text", null));
    assertEquals("Impossible to guess object class", e.getMessage());
    // A value of another class than the field's: the lookup by the guessed
    // signature fails and JNI's NoSuchFieldError reaches the caller.
    assertThrows(NoSuchFieldError.class, () -> JniProbe.setGuessed(h, "text", new byte[1]));
    assertEquals(null, h.text);
  }

  enum Kind {
    ImageScanned,
    Other
  }

  @Test
  void enumConstantsByName() {
    assertEquals("ordinal 0", JniProbe.enumConstant(Kind.class, "ImageScanned"));
    assertEquals("ordinal 1", JniProbe.enumConstant(Kind.class, "Other"));
    assertEquals("null pending", JniProbe.enumConstant(Kind.class, "Missing"));
  }

  @Test
  void javaStringsRoundTripUnchanged() {
    for (String s : new String[] {"", "ascii", AWKWARD, "\u0000", "\uD83D\uDE00", "\uFFFF"}) {
      assertEquals(s, JniProbe.roundTrip(s));
    }
    assertEquals("", JniProbe.roundTrip(null), "a null string reads as empty text");
  }

  static final class TextSink {
    final List<String> seen = new ArrayList<>();
    int pings;

    void texts(String a, String b) {
      if (seen.isEmpty()) {
        seen.add(a);
        seen.add(b);
      }
    }

    void ping() {
      pings++;
    }
  }

  @Test
  void textArgumentsBecomeJavaStringsAndAreFreed() {
    TextSink sink = new TextSink();
    // Many calls in one native call: strings left behind would overflow the
    // call's local references, which -Xcheck:jni reports.
    JniProbe.callTexts(sink, 2000);
    assertArrayEquals(new String[] {"ação", "ç\uD83D\uDE00"}, sink.seen.toArray());
    assertEquals(1, sink.pings, "a call without arguments");
  }
}
