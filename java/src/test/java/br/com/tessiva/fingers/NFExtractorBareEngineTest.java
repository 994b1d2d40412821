package br.com.tessiva.fingers;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import br.com.tessiva.images.NImage;
import org.junit.jupiter.api.Test;

/** A VM whose engine has neither GetDefaultConfig nor ExtractMinutiae. */
class NFExtractorBareEngineTest {
  @Test
  void extractorIsMadeButExtractionIsRefusedWithoutAnyEngineCall() throws Exception {
    try (NFExtractor extractor = new NFExtractor()) {
      NImage image = new NImage(20, 20, new byte[400]);
      IllegalStateException e = assertThrows(IllegalStateException.class,
          () -> extractor.extract(image, NFPosition.LEFT_THUMB, NFImpressionType.LIVE_SCAN_PLAIN));
      assertEquals("The extraction engine VxExtract.so has no ExtractMinutiae", e.getMessage());
      assertThrows(IllegalStateException.class,
          () -> extractor.innerExtract(image, NFPosition.LEFT_THUMB, NFImpressionType.UNKNOWN));
    }
    assertEquals(0, EngineLog.lines().size());
  }
}
