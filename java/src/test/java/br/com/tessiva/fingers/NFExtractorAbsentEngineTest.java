package br.com.tessiva.fingers;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import br.com.tessiva.images.NImage;
import java.nio.file.Files;
import org.junit.jupiter.api.Test;

/** A VM whose library folder starts without the engine (it is loaded once per process). */
class NFExtractorAbsentEngineTest {
  @Test
  void absentEngineFailsWithThePathThenLoadsOncePutInPlace() throws Exception {
    String expected = "Could not load VxExtractor library - "
        + EngineLog.libraryFolder().resolve("VxExtract.so");
    NFExtractor raw = new NFExtractor(0);
    Exception e = assertThrows(Exception.class, raw::innerCreateExtractor);
    assertEquals(Exception.class, e.getClass());
    assertEquals(expected, e.getMessage());
    ExtractorException again = assertThrows(ExtractorException.class, NFExtractor::new);
    assertEquals(expected, again.getMessage());

    Files.copy(EngineLog.recorder(), EngineLog.libraryFolder().resolve("VxExtract.so"));
    try (NFExtractor extractor = new NFExtractor()) {
      assertNotEquals(0L, extractor.handle);
      byte[] pixels = new byte[32 * 24];
      assertEquals(32, extractor.extract(new NImage(32, 24, pixels), NFPosition.UNKNOWN,
          NFImpressionType.UNKNOWN).getData()[4]);
    }
  }
}
