package br.com.tessiva.fingers;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import br.com.tessiva.images.NImage;
import br.com.tessiva.templates.NFMinutia;
import br.com.tessiva.templates.NFRecord;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * The open engine VxExtract.so beside the library, on synthetic fingers written with their ground
 * truth (finger_fixture): the minutiae of the returned NFRecord match the truth as well as the
 * engine measures on its own (precision and recall of at least 0.72 on clean impressions; a match
 * is within 10 pixels and 30 degrees, one to one, greedily by distance).
 */
class NFExtractorOpenEngineTest {
  static final double FLOOR = 0.72;

  static int matched(List<double[]> truth, List<double[]> found) {
    List<double[]> pairs = new ArrayList<>();
    for (int i = 0; i < truth.size(); i++) {
      for (int j = 0; j < found.size(); j++) {
        double[] t = truth.get(i);
        double[] f = found.get(j);
        double d = Math.hypot(t[0] - f[0], t[1] - f[1]);
        double gap = Math.abs(t[2] - f[2]) % (2 * Math.PI);
        if (d <= 10 && Math.min(gap, 2 * Math.PI - gap) <= Math.PI / 6) {
          pairs.add(new double[] {d, i, j});
        }
      }
    }
    pairs.sort(Comparator.comparingDouble(p -> p[0]));
    boolean[] usedTruth = new boolean[truth.size()];
    boolean[] usedFound = new boolean[found.size()];
    int n = 0;
    for (double[] p : pairs) {
      int i = (int) p[1];
      int j = (int) p[2];
      if (!usedTruth[i] && !usedFound[j]) {
        usedTruth[i] = usedFound[j] = true;
        n++;
      }
    }
    return n;
  }

  @Test
  void syntheticFingersGiveRecordsMatchingTheirGroundTruth() throws Exception {
    Path folder = Paths.get(System.getProperty("dactyra.test.fingers"));
    int truthCount = 0;
    int foundCount = 0;
    int matchedCount = 0;
    try (NFExtractor extractor = new NFExtractor()) {
      for (int i = 0; Files.exists(folder.resolve("finger" + i + ".bmp")); i++) {
        NImage image = NImage.read(folder.resolve("finger" + i + ".bmp"));
        List<double[]> truth = new ArrayList<>();
        for (String line : Files.readAllLines(folder.resolve("finger" + i + ".txt"))) {
          String[] v = line.trim().split(" ");
          truth.add(new double[] {
              Double.parseDouble(v[0]), Double.parseDouble(v[1]), Double.parseDouble(v[2])});
        }
        NFRecord record = extractor.extract(image, NFPosition.RIGHT_INDEX_FINGER,
            NFImpressionType.LIVE_SCAN_PLAIN);
        byte[] data = record.getData();
        assertEquals(NFPosition.RIGHT_INDEX_FINGER.ordinal(), data[12]);
        assertEquals(NFImpressionType.LIVE_SCAN_PLAIN.ordinal(), data[13]);
        List<double[]> found = new ArrayList<>();
        for (NFMinutia m : record.getMinutiae()) {
          found.add(new double[] {m.getX(), m.getY(), m.getAngle() * 2 * Math.PI / 256});
        }
        truthCount += truth.size();
        foundCount += found.size();
        matchedCount += matched(truth, found);
      }
    }
    assertTrue(truthCount > 0, "no fingers in " + folder);
    double precision = (double) matchedCount / foundCount;
    double recall = (double) matchedCount / truthCount;
    assertTrue(precision >= FLOOR, "precision " + matchedCount + "/" + foundCount);
    assertTrue(recall >= FLOOR, "recall " + matchedCount + "/" + truthCount);
  }
}
