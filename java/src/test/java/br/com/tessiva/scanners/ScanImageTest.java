package br.com.tessiva.scanners;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import br.com.tessiva.images.NImage;
import org.junit.jupiter.api.Test;

/** A captured image handed on as a picture: same size and pixels, a copy of its own. */
class ScanImageTest {
  @Test
  void toNImageCopiesSizeAndPixels() throws Exception {
    ScanImage scan = new ScanImage(3, 2);
    for (int i = 0; i < 6; i++) scan.buffer[i] = (byte) (10 * i + 200);
    NImage image = scan.toNImage();
    assertEquals(3, image.getWidth());
    assertEquals(2, image.getHeight());
    assertArrayEquals(scan.buffer, image.getPixels());
    assertEquals(scan.getPixel(2, 1), image.getPixel(2, 1));
    // Each keeps its own pixels, and the picture saves as BMP.
    scan.buffer[0] = 1;
    assertEquals(200, image.getPixel(0, 0));
    assertArrayEquals(image.getPixels(), NImage.fromBMP(image.toBMP()).getPixels());
  }

  @Test
  void aReplacedBufferOfTheWrongLengthIsRefused() {
    ScanImage scan = new ScanImage(3, 2);
    scan.buffer = new byte[5];
    assertThrows(IllegalArgumentException.class, scan::toNImage);
  }
}
