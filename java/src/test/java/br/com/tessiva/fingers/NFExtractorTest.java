package br.com.tessiva.fingers;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import br.com.tessiva.images.NImage;
import br.com.tessiva.templates.NFMinutia;
import br.com.tessiva.templates.NFRecord;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.time.LocalDate;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/**
 * NFExtractor over the recording engine, which writes into each record's header what reached it
 * (bytes 4-7 the sizes, 8-11 the resolutions, 12 the position, 13 the impression type, 16-19 the
 * sum of the pixels) and logs every call.
 */
class NFExtractorTest {
  static NImage picture(int width, int height, int seed) {
    byte[] pixels = new byte[width * height];
    for (int i = 0; i < pixels.length; i++) {
      pixels[i] = (byte) ((seed + i * 7) % 200);
    }
    return new NImage(width, height, pixels);
  }

  static int u16(byte[] r, int at) {
    return (r[at] & 0xFF) | (r[at + 1] & 0xFF) << 8;
  }

  static int pixelSum(NImage image) {
    int sum = 0;
    for (byte b : image.buffer) {
      sum += b & 0xFF;
    }
    return sum;
  }

  static int u32(byte[] r, int at) {
    return u16(r, at) | u16(r, at + 2) << 16;
  }

  static void assertRecordOf(byte[] r, NImage image, int position, int impression) {
    assertEquals('V', r[0]);
    assertEquals(image.width, u16(r, 4));
    assertEquals(image.height, u16(r, 6));
    assertEquals(500, u16(r, 8));
    assertEquals(500, u16(r, 10));
    assertEquals(position, r[12]);
    assertEquals(impression, r[13]);
    assertEquals(1, r[14]);
    assertEquals(1, r[15]);
    assertEquals(pixelSum(image), u32(r, 16));
    assertEquals(1, r[20], "the configuration held the engine's defaults");
  }

  @Test
  void twoExtractorsGetTwoRecordsAndTheEngineIsLoadedOnce() throws Exception {
    Path engine = EngineLog.libraryFolder().resolve("VxExtract.so");
    Path aside = EngineLog.libraryFolder().resolve("VxExtract.so.aside");
    NFExtractor raw = new NFExtractor(0);
    long first = raw.innerCreateExtractor();
    // Gone from its place, the engine still serves: it was loaded once and kept.
    Files.move(engine, aside);
    try {
      long second = raw.innerCreateExtractor();
      assertNotEquals(0L, first);
      assertNotEquals(0L, second);
      assertNotEquals(first, second);
      NImage image = picture(40, 30, 1);
      for (long handle : new long[] {first, second}) {
        byte[] r = new NFExtractor(handle).innerExtract(image, NFPosition.UNKNOWN,
            NFImpressionType.UNKNOWN);
        assertRecordOf(r, image, 0, 0);
      }
    } finally {
      Files.move(aside, engine);
    }
  }

  @Test
  void recordHasExactlyTheAnnouncedSizeAndTheOrdinalsReachTheEngine() throws Exception {
    try (NFExtractor extractor = new NFExtractor()) {
      NFPosition[] positions = NFPosition.values();
      NFImpressionType[] impressions = NFImpressionType.values();
      for (int i = 0; i < positions.length; i++) {
        NFPosition position = positions[i];
        NFImpressionType impression = impressions[i % impressions.length];
        NImage image = picture(30 + i, 20 + 2 * i, i);
        int from = EngineLog.lines().size();
        byte[] r = extractor.innerExtract(image, position, impression);
        assertRecordOf(r, image, position.ordinal(), impression.ordinal());
        List<String> calls = EngineLog.since(from);
        // Size first, then content, then the template released.
        assertEquals(4, calls.size(), calls.toString());
        assertTrue(calls.get(0).startsWith("ExtractMinutiae " + image.width + " " + image.height
            + " 0 1"), calls.get(0));
        String announce = "ExportRecord null " + image.width + " " + image.height + " 500 500 "
            + position.ordinal() + " " + impression.ordinal() + " 1 1 -> ";
        assertTrue(calls.get(1).startsWith(announce), calls.get(1));
        assertEquals(Integer.parseInt(calls.get(1).substring(announce.length())), r.length);
        assertTrue(calls.get(2).startsWith("ExportRecord buffer "), calls.get(2));
        assertEquals("Release", calls.get(3));
      }
      assertEquals(0, NFPosition.UNKNOWN.ordinal());
      assertEquals(0, NFImpressionType.UNKNOWN.ordinal());
      assertEquals(10, NFPosition.LEFT_LITTLE_FINGER.code());
    }
  }

  @Test
  void extractGivesAnNFRecordThatReadsTheEnginesMinutiae() throws Exception {
    try (NFExtractor extractor = new NFExtractor()) {
      NImage image = picture(64, 48, 5);
      NFRecord record = extractor.extract(image, NFPosition.RIGHT_INDEX_FINGER,
          NFImpressionType.LIVE_SCAN_PLAIN);
      byte[] r = record.getData();
      assertRecordOf(r, image, 2, 1);
      List<NFMinutia> minutiae = record.getMinutiae();
      assertEquals(r[24] & 0xFF, minutiae.size());
      assertFalse(minutiae.isEmpty());
      for (NFMinutia m : minutiae) {
        assertTrue(m.getX() < 64 && m.getY() < 48, m.toString());
      }
    }
  }

  @Test
  void noTemplateIsNullFromTheNativeAndAnExceptionFromExtract() throws Exception {
    try (NFExtractor extractor = new NFExtractor()) {
      byte[] white = new byte[50 * 40];
      java.util.Arrays.fill(white, (byte) 255);
      NImage blank = new NImage(50, 40, white);
      int from = EngineLog.lines().size();
      assertNull(extractor.innerExtract(blank, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN));
      ExtractorException e = assertThrows(ExtractorException.class,
          () -> extractor.extract(blank, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN));
      assertEquals("No fingerprint template found in the image", e.getMessage());
      List<String> calls = EngineLog.since(from);
      assertEquals(2, EngineLog.count(calls, "ExtractMinutiae"), calls.toString());
      assertEquals(0, EngineLog.count(calls, "ExportRecord"), calls.toString());
      // The pixels were handed back untouched.
      assertArrayEquals(white, blank.buffer);
    }
  }

  @Test
  void badHandlesAndImagesAreRefusedBeforeTheEngine() throws Exception {
    try (NFExtractor good = new NFExtractor()) {
      NImage image = picture(20, 10, 0);
      NImage shortBuffer = picture(20, 10, 0);
      shortBuffer.height = 11;
      NImage negative = picture(20, 10, 0);
      negative.width = -20;
      negative.height = -10;
      NImage huge = picture(20, 10, 0);
      huge.width = 65536;
      huge.height = 65537;
      NImage noBuffer = picture(20, 10, 0);
      noBuffer.buffer = null;
      NImage empty = new NImage();
      int from = EngineLog.lines().size();
      List<Executable> refused = List.of(
          () -> new NFExtractor(0).innerExtract(image, NFPosition.UNKNOWN,
              NFImpressionType.UNKNOWN),
          () -> new NFExtractor(good.handle + 8).innerExtract(image, NFPosition.UNKNOWN,
              NFImpressionType.UNKNOWN),
          () -> new NFExtractor(0x12345678L).innerExtract(image, NFPosition.UNKNOWN,
              NFImpressionType.UNKNOWN),
          () -> good.extract(shortBuffer, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN),
          () -> good.extract(negative, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN),
          () -> good.extract(huge, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN),
          () -> good.extract(noBuffer, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN),
          () -> good.extract(empty, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN));
      for (Executable call : refused) {
        assertThrows(IllegalArgumentException.class, call);
      }
      assertThrows(NullPointerException.class,
          () -> good.innerExtract(null, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN));
      assertThrows(NullPointerException.class,
          () -> good.innerExtract(image, null, NFImpressionType.UNKNOWN));
      assertThrows(NullPointerException.class,
          () -> good.innerExtract(image, NFPosition.UNKNOWN, null));
      assertEquals(List.of(), EngineLog.since(from));
    }
  }

  @Test
  void closedExtractorsRefuseAndLendTheirRecordToTheNext() throws Exception {
    long lent;
    NFExtractor first = new NFExtractor();
    lent = first.handle;
    first.close();
    first.close();
    assertTrue(first.isClosed());
    assertThrows(IllegalStateException.class,
        () -> first.extract(picture(8, 8, 0), NFPosition.UNKNOWN, NFImpressionType.UNKNOWN));
    int from = EngineLog.lines().size();
    try (NFExtractor second = new NFExtractor()) {
      assertEquals(lent, second.handle);
      assertEquals(0, EngineLog.count(EngineLog.since(from), "GetDefaultConfig"));
      try (NFExtractor third = new NFExtractor()) {
        // Two open at once need two records (this one new or lent by an earlier test).
        assertNotEquals(lent, third.handle);
        assertNotEquals(0L, third.handle);
      }
    }
    // Made and closed one after another, extractors share one record.
    from = EngineLog.lines().size();
    for (int i = 0; i < 200; i++) {
      new NFExtractor().close();
    }
    assertEquals(0, EngineLog.count(EngineLog.since(from), "GetDefaultConfig"));
  }

  static Path today() {
    return EngineLog.libraryFolder().resolve("imglog")
        .resolve(LocalDate.now().format(DateTimeFormatter.BASIC_ISO_DATE));
  }

  static void setSI(String value) throws Exception {
    Path key = Path.of(System.getenv("DACTYRA_REGISTRY"), "HKEY_CURRENT_USER", "Software",
        "Tessiva BR", "dactyra");
    Files.createDirectories(key);
    Files.writeString(key.resolve("values"), value == null ? "" : "SI=" + value + "\n");
  }

  static List<Path> logged() throws Exception {
    Path log = EngineLog.libraryFolder().resolve("imglog");
    if (!Files.exists(log)) {
      return List.of();
    }
    try (Stream<Path> files = Files.walk(log)) {
      return files.filter(Files::isRegularFile).toList();
    }
  }

  static void clearLog() throws Exception {
    Path log = EngineLog.libraryFolder().resolve("imglog");
    if (Files.exists(log)) {
      try (Stream<Path> files = Files.walk(log)) {
        for (Path p : files.sorted(Comparator.reverseOrder()).toList()) {
          Files.delete(p);
        }
      }
    }
  }

  @Test
  void imageLogFollowsTheRegistryValueOnEveryCall() throws Exception {
    try (NFExtractor extractor = new NFExtractor()) {
      NImage image = picture(33, 21, 9);
      try {
        for (String off : new String[] {null, "dword:0", "sz:1", "dword:2"}) {
          clearLog();
          setSI(off);
          extractor.extract(image, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN);
          assertEquals(List.of(), logged(), "SI=" + off);
        }
        clearLog();
        setSI("dword:1");
        Path before = today();
        extractor.extract(image, NFPosition.UNKNOWN, NFImpressionType.UNKNOWN);
        List<Path> files = logged();
        assertEquals(1, files.size(), files.toString());
        Path file = files.get(0);
        assertTrue(file.getParent().equals(before) || file.getParent().equals(today()),
            file.toString());
        assertTrue(file.getFileName().toString().matches("[0-9]{6}\\.bmp"), file.toString());
        NImage read = NImage.read(file);
        assertEquals(33, read.width);
        assertArrayEquals(image.buffer, read.buffer);
      } finally {
        setSI(null);
        clearLog();
      }
    }
  }

  @Test
  void extractionsFromSeveralJavaThreadsAtOnce() throws Exception {
    ExecutorService pool = Executors.newFixedThreadPool(4);
    try {
      List<Future<Integer>> results = new ArrayList<>();
      for (int t = 0; t < 4; t++) {
        final int thread = t;
        Callable<Integer> work = () -> {
          int good = 0;
          try (NFExtractor extractor = new NFExtractor()) {
            for (int i = 0; i < 30; i++) {
              NImage image = picture(24 + 8 * thread + i % 3, 16 + 4 * thread, thread * 31 + i);
              NFPosition position = NFPosition.values()[thread];
              NFImpressionType impression = NFImpressionType.values()[i % 4];
              NFRecord record = extractor.extract(image, position, impression);
              assertRecordOf(record.getData(), image, position.ordinal(), impression.ordinal());
              assertNotNull(record.getMinutiae());
              good++;
            }
          }
          return good;
        };
        results.add(pool.submit(work));
      }
      for (Future<Integer> f : results) {
        assertEquals(30, f.get());
      }
    } finally {
      pool.shutdown();
    }
  }
}
