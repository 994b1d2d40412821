package br.com.tessiva.base;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import br.com.tessiva.images.NImage;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.LocalDateTime;
import java.util.ArrayList;
import java.util.List;
import java.util.Optional;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * A fingerprint base from Java, with the open engine beside the library, on impressions of
 * synthetic fingers (impressions_fixture: finger F's impression K is fingerF-K.bmp).
 */
class FingerprintBaseTest {
  static final Path FINGERS = Paths.get(System.getProperty("dactyra.test.impressions"));

  @TempDir Path dir;

  static NImage impression(int finger, int k) throws Exception {
    return NImage.read(FINGERS.resolve("finger" + finger + "-" + k + ".bmp"));
  }

  static NImage[] three(int finger) throws Exception {
    return new NImage[] {impression(finger, 0), impression(finger, 1), impression(finger, 2)};
  }

  @Test
  void enrolledFingersAreIdentifiedVerifiedListedAndRemoved() throws Exception {
    LocalDateTime before = LocalDateTime.now().minusSeconds(1);
    try (FingerprintBase base = new FingerprintBase(dir.resolve("people.db"))) {
      int ana = base.enroll("ana", 2, three(0));
      int bia = base.enroll("bia", 7, three(1));
      assertTrue(bia > ana);

      FingerprintBase.Match found = base.identify(impression(0, 4)).orElseThrow();
      assertEquals(new FingerprintBase.Match(ana, "ana", 2, found.score()), found);
      FingerprintBase.Thresholds t = base.thresholds();
      assertTrue(found.score() >= t.identify() && found.score() <= FingerprintBase.MAX_SCORE);
      assertEquals(Optional.empty(), base.identify(impression(2, 0)), "never enrolled");

      assertTrue(base.verify("bia", impression(1, 3)) >= t.verify());
      assertTrue(base.verify("ana", impression(1, 3)) < t.verify());
      assertEquals(0, base.verify("nobody", impression(1, 3)));

      assertEquals(List.of("ana", "bia"), base.codes());
      List<FingerprintBase.Entry> entries = base.entries();
      assertEquals(2, entries.size());
      FingerprintBase.Entry first = entries.get(0);
      assertEquals(ana, first.id());
      assertEquals("ana", first.code());
      assertEquals(2, first.finger());
      assertEquals(1, first.recognitions());
      assertTrue(first.enrolled().isAfter(before) && !first.enrolled().isAfter(LocalDateTime.now()));
      assertTrue(first.lastRecognised().isPresent());
      assertEquals(Optional.empty(), entries.get(1).lastRecognised());

      assertEquals(1, base.remove("ana"));
      assertEquals(0, base.remove("ana"));
      assertEquals(Optional.empty(), base.identify(impression(0, 4)));
      base.compact();
      assertEquals(List.of("bia"), base.codes());
    }
  }

  @Test
  void imagesThatGiveNoTemplateOrDoNotAgreeEnrollNothing() throws Exception {
    try (FingerprintBase base = new FingerprintBase(dir.resolve("people.db"))) {
      NImage blank = new NImage(320, 365, filled(320 * 365, (byte) 200));
      FingerprintBaseException noTemplate = assertThrows(FingerprintBaseException.class,
          () -> base.enroll("ana", 1, impression(0, 0), blank));
      assertTrue(noTemplate.getMessage().startsWith("Image 2 gives no usable template"),
          noTemplate.getMessage());
      FingerprintBaseException disagree = assertThrows(FingerprintBaseException.class,
          () -> base.enroll("ana", 1, impression(0, 0), impression(1, 0)));
      assertTrue(disagree.getMessage().startsWith("The images do not agree"), disagree.getMessage());
      assertThrows(FingerprintBaseException.class, () -> base.enroll("", 1, three(0)));
      assertThrows(FingerprintBaseException.class, () -> base.enroll("ana", 16, three(0)));
      assertThrows(FingerprintBaseException.class, () -> base.enroll("ana", 1));
      assertThrows(NullPointerException.class, () -> base.enroll(null, 1, three(0)));
      assertThrows(NullPointerException.class, () -> base.identify(null));
      assertEquals(List.of(), base.codes());
    }
  }

  @Test
  void aFileOfAnotherKindIsRefusedAndLeftAsItWas() throws Exception {
    Path notes = dir.resolve("notes.db");
    byte[] text = "ana,2\nbia,7\n".getBytes("UTF-8");
    Files.write(notes, text);
    FingerprintBaseException e =
        assertThrows(FingerprintBaseException.class, () -> new FingerprintBase(notes));
    assertTrue(e.getMessage().contains("Not a usable fingerprint database"), e.getMessage());
    assertArrayEquals(text, Files.readAllBytes(notes));
    assertThrows(FingerprintBaseException.class,
        () -> FingerprintBase.openExisting(dir.resolve("missing.db")));
    assertFalse(Files.exists(dir.resolve("missing.db")));
  }

  @Test
  void twoBasesOnOneFileSeeEachOthersEntries() throws Exception {
    Path file = dir.resolve("shared.db");
    try (FingerprintBase a = new FingerprintBase(file);
         FingerprintBase b = FingerprintBase.openExisting(file)) {
      int ana = a.enroll("ana", 2, three(0));
      assertEquals(ana, b.identify(impression(0, 3)).orElseThrow().id());
      b.remove("ana");
      assertEquals(Optional.empty(), a.identify(impression(0, 3)));
    }
  }

  @Test
  void aClosedBaseRefusesEveryCallAndACloseDuringASearchBreaksNothing() throws Exception {
    FingerprintBase base = new FingerprintBase(dir.resolve("people.db"));
    base.enroll("ana", 2, three(0));
    NImage probe = impression(0, 3);
    AtomicReference<Throwable> unexpected = new AtomicReference<>();
    List<Thread> searchers = new ArrayList<>();
    for (int i = 0; i < 3; i++) {
      Thread t = new Thread(() -> {
        for (int k = 0; k < 20; k++) {
          try {
            base.identify(probe);
          } catch (IllegalStateException closed) {
            return;
          } catch (Throwable other) {
            unexpected.compareAndSet(null, other);
            return;
          }
        }
      });
      t.start();
      searchers.add(t);
    }
    Thread.sleep(50);
    base.close();
    for (Thread t : searchers) t.join(30_000);
    if (unexpected.get() != null) throw new AssertionError(unexpected.get());
    assertThrows(IllegalStateException.class, () -> base.identify(probe));
    assertThrows(IllegalStateException.class, base::codes);
    base.close();
    // The file was let go: another base opens it and finds ana.
    try (FingerprintBase again = FingerprintBase.openExisting(dir.resolve("people.db"))) {
      assertEquals("ana", again.identify(probe).orElseThrow().code());
    }
  }

  static byte[] filled(int n, byte value) {
    byte[] b = new byte[n];
    java.util.Arrays.fill(b, value);
    return b;
  }
}
