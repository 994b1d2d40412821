package br.com.tessiva.cli;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import br.com.tessiva.fingers.NFExtractor;
import br.com.tessiva.fingers.NFImpressionType;
import br.com.tessiva.fingers.NFPosition;
import br.com.tessiva.images.MinutiaeDrawing;
import br.com.tessiva.images.NImage;
import br.com.tessiva.templates.NFMinutia;
import br.com.tessiva.templates.NFRecord;
import java.awt.image.BufferedImage;
import java.awt.image.WritableRaster;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import javax.imageio.ImageIO;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * The dactyra tool through its real launcher script, each command line a VM of its own under
 * -Xcheck:jni, started from a scratch folder (not the launcher's). The readers are the test
 * plug-in (vxr_test.so, readers A and B with a known pixel pattern) and the Virdi plug-in over the
 * UCBioBSP stand-in (synthetic fingers); the engine is the open VxExtract. All lie beside a copy of
 * libdactyra.so in the stage folder, which DACTYRA_LIBRARY_DIR hands to the launcher.
 */
class DactyraToolTest {
  static Path launcher;
  static Path libdir;
  static Path work;
  static Path fingers;
  static String prefix;

  static final class Run {
    final int code;
    final String out;
    final String err;

    Run(int code, String out, String err) {
      this.code = code;
      this.out = out;
      this.err = err;
    }

    @Override
    public String toString() {
      return "exit " + code + "\n--- out\n" + out + "--- err\n" + err;
    }
  }

  @BeforeAll
  static void setUp() throws IOException {
    launcher = Paths.get(System.getProperty("dactyra.cli.launcher"));
    libdir = Paths.get(System.getProperty("dactyra.cli.libdir"));
    fingers = Paths.get(System.getProperty("dactyra.test.fingers"));
    work = libdir.resolve("work");
    Files.createDirectories(work);
    Files.createDirectories(libdir.resolve("run"));
    prefix = "Cli" + ProcessHandle.current().pid();
    Files.writeString(libdir.resolve("run/vxr_test.conf"),
        "prefix=" + prefix + "\ndevice=A\ndevice=B\nmax=40x30\nimage_delay_ms=5\nidle=block\n");
    Files.writeString(libdir.resolve("run/ucbiobsp.conf"), "reader=7 300x400 name=Finger\n");
  }

  static Run dactyra(Map<String, String> env, String... args) throws Exception {
    Process p = start(env, args);
    CompletableFuture<String> out = drain(p.getInputStream());
    CompletableFuture<String> err = drain(p.getErrorStream());
    assertTrue(p.waitFor(120, TimeUnit.SECONDS), "dactyra " + String.join(" ", args) + " hangs");
    Run run = new Run(p.exitValue(), out.get(), err.get());
    // -Xcheck:jni reports misuse on either stream; a stack trace is never for the user.
    for (String text : new String[] {run.out, run.err}) {
      assertFalse(text.contains("WARNING") || text.contains("FATAL ERROR"), run.toString());
      assertFalse(text.contains("\tat ") || text.contains("Exception in thread"), run.toString());
    }
    return run;
  }

  static Run dactyra(String... args) throws Exception {
    return dactyra(Map.of(), args);
  }

  static Process start(Map<String, String> env, String... args) throws IOException {
    List<String> command = new ArrayList<>();
    command.add(launcher.toString());
    command.addAll(Arrays.asList(args));
    ProcessBuilder pb = new ProcessBuilder(command).directory(work.toFile());
    Map<String, String> e = pb.environment();
    e.put("DACTYRA_LIBRARY_DIR", libdir.toString());
    e.put("DACTYRA_JAVA_OPTIONS", "-Xcheck:jni");
    e.put("VXR_TEST_DIR", libdir.resolve("run").toString());
    e.put("DACTYRA_UCBIOBSP_CONFIG", libdir.resolve("run/ucbiobsp.conf").toString());
    // A runtime folder of its own: no other test's process holds these readers.
    e.put("DACTYRA_RUNTIME", libdir.resolve("runtime").toString());
    e.putAll(env);
    return pb.start();
  }

  static CompletableFuture<String> drain(InputStream in) {
    return CompletableFuture.supplyAsync(() -> {
      try {
        return new String(in.readAllBytes(), StandardCharsets.UTF_8);
      } catch (IOException e) {
        return "(unreadable: " + e + ")";
      }
    });
  }

  static Path fresh(String name) throws IOException {
    Path dir = work.resolve(name);
    if (Files.exists(dir)) {
      try (var files = Files.walk(dir)) {
        files.sorted((a, b) -> b.compareTo(a)).forEach(f -> f.toFile().delete());
      }
    }
    return Files.createDirectories(dir);
  }

  static List<String> lines(String text) {
    return text.isEmpty() ? List.of() : Arrays.asList(text.split("\n"));
  }

  @Test
  void helpForTheToolAndEachCommand() throws Exception {
    Run all = dactyra("--help");
    assertEquals(0, all.code, all.toString());
    for (String c : new String[] {"readers", "capture", "extract", "show", "draw"}) {
      assertTrue(all.out.contains("  " + c + " "), all.out);
      Run one = dactyra(c, "--help");
      assertEquals(0, one.code, one.toString());
      assertTrue(one.out.startsWith("Usage: dactyra " + c), one.out);
      assertEquals("", one.err);
    }
  }

  @Test
  void readersAreListedWithModuleAndSize() throws Exception {
    // The stand-ins grow their fingers before their first image: seconds on a
    // busy machine, more than the default wait of 3 s.
    Run run = dactyra("readers", "--wait", "60");
    assertEquals(0, run.code, run.toString());
    List<String> rows = lines(run.out);
    assertTrue(rows.get(0).matches("NAME +MODULE +SIZE"), run.out);
    assertTrue(rows.stream().anyMatch(
        r -> r.matches(Pattern.quote(prefix + "\\A") + " +" + prefix + " +40x30")), run.out);
    assertTrue(rows.stream().anyMatch(
        r -> r.matches(Pattern.quote(prefix + "\\B") + " +" + prefix + " +40x30")), run.out);
    assertTrue(rows.stream().anyMatch(r -> r.matches("ViRDI\\\\Finger +ViRDI +300x400")),
        run.out);
    Run bare = dactyra("readers", "--no-size");
    assertEquals(0, bare.code, bare.toString());
    assertTrue(bare.out.contains(prefix + "\\A"), bare.out);
    assertFalse(bare.out.contains("SIZE") || bare.out.contains("40x30"), bare.out);
  }

  // The test plug-in's k-th image has pixel (x, y) = (k + x + 3y) & 0xFF: the k of a picture.
  static int patternIndex(int width, int height, IntPixels p) {
    int k = p.at(0, 0);
    for (int y = 0; y < height; y++) {
      for (int x = 0; x < width; x++) {
        assertEquals((k + x + 3 * y) & 0xFF, p.at(x, y), "pixel " + x + "," + y);
      }
    }
    return k;
  }

  interface IntPixels {
    int at(int x, int y);
  }

  @Test
  void captureWritesEachImageOnceInTheFormatAsked() throws Exception {
    for (String format : new String[] {"bmp", "png"}) {
      Path out = fresh("capture-" + format);
      Run run = dactyra("capture", "--reader", prefix + "\\B", "--count", "3", "--out",
          out.toString(), "--format", format);
      assertEquals(0, run.code, run.toString());
      List<String> files = lines(run.out);
      assertEquals(3, files.size(), run.out);
      assertTrue(run.err.contains("capture: 3/3 images from " + prefix + "\\B (40x30)"), run.err);
      int previous = -1;
      for (int i = 0; i < 3; i++) {
        Path file = Paths.get(files.get(i));
        assertEquals(out.resolve(prefix + "_B-" + (i + 1) + "." + format), file);
        int k;
        if (format.equals("bmp")) {
          NImage image = NImage.read(file);
          assertEquals(40, image.width);
          assertEquals(30, image.height);
          k = patternIndex(40, 30, image::getPixel);
        } else {
          BufferedImage image = ImageIO.read(file.toFile());
          assertEquals(BufferedImage.TYPE_BYTE_GRAY, image.getType());
          assertEquals(40, image.getWidth());
          k = patternIndex(40, 30, (x, y) -> image.getRaster().getSample(x, y, 0));
        }
        // Later images, never the same one twice.
        assertTrue(k > previous, "image " + k + " after " + previous);
        previous = k;
      }
      assertEquals(3, Files.list(out).count());
    }
  }

  @Test
  void fingersCapturedExtractedShownAndDrawn() throws Exception {
    Path out = fresh("virdi");
    Run capture = dactyra("capture", "--reader", "ViRDI\\Finger", "--count", "2", "--out",
        out.toString(), "--format", "png");
    assertEquals(0, capture.code, capture.toString());
    Path picture = out.resolve("ViRDI_Finger-1.png");
    Run extract = dactyra("extract", picture.toString(), out.resolve("ViRDI_Finger-2.png")
        .toString());
    assertEquals(0, extract.code, extract.toString());
    Path template = out.resolve("ViRDI_Finger-1.tpl");
    assertTrue(Files.exists(template) && Files.exists(out.resolve("ViRDI_Finger-2.tpl")));
    NFRecord record = new NFRecord(Files.readAllBytes(template));
    int minutiae = record.getMinutiae().size();
    assertTrue(minutiae >= 10, "a synthetic finger shows minutiae: " + minutiae);
    assertTrue(extract.out.contains(picture + " -> " + template + ": " + minutiae + " minutiae"),
        extract.out);

    // show --json: one object per minutia, in record order, with the record's values.
    Run json = dactyra("show", template.toString(), "--json");
    assertEquals(0, json.code, json.toString());
    Matcher m = Pattern.compile("\\{\"x\": (\\d+), \"y\": (\\d+), \"type\": (\\d), \"kind\": "
        + "\"\\w+\", \"angle\": (\\d+), \"degrees\": [0-9.]+, \"quality\": (\\d+)")
        .matcher(json.out);
    List<NFMinutia> expected = record.getMinutiae();
    int n = 0;
    while (m.find()) {
      NFMinutia e = expected.get(n++);
      assertEquals(List.of(e.getX(), e.getY(), e.getType(), e.getAngle(), e.getQuality()),
          List.of(Integer.parseInt(m.group(1)), Integer.parseInt(m.group(2)),
              Integer.parseInt(m.group(3)), Integer.parseInt(m.group(4)),
              Integer.parseInt(m.group(5))));
    }
    assertEquals(minutiae, n, json.out);
    assertTrue(json.out.trim().startsWith("{") && json.out.trim().endsWith("}"), json.out);

    // draw: exactly the picture MinutiaeDrawing makes of the same image and record.
    Path drawn = out.resolve("drawn.png");
    Run draw = dactyra("draw", picture.toString(), template.toString(), "--out",
        drawn.toString());
    assertEquals(0, draw.code, draw.toString());
    assertEquals("", draw.err);
    BufferedImage source = ImageIO.read(picture.toFile());
    byte[] gray = new byte[300 * 400];
    source.getRaster().getDataElements(0, 0, 300, 400, gray);
    int[] want = new MinutiaeDrawing(300, 400, gray).drawRecord(record).image()
        .getRGB(0, 0, 300, 400, null, 0, 300);
    assertArrayEquals(want, ImageIO.read(drawn.toFile()).getRGB(0, 0, 300, 400, null, 0, 300));
  }

  // The pixels of a finger picture as another kind of PNG.
  static Path png(NImage image, int type, Path file) throws IOException {
    BufferedImage img = new BufferedImage(image.width, image.height, type);
    WritableRaster r = img.getRaster();
    for (int y = 0; y < image.height; y++) {
      for (int x = 0; x < image.width; x++) {
        int v = image.getPixel(x, y);
        if (type == BufferedImage.TYPE_USHORT_GRAY) {
          r.setSample(x, y, 0, v * 257);
        } else if (type == BufferedImage.TYPE_INT_ARGB) {
          // Opaque colour whose luma is v: the same gray level in every channel.
          r.setPixel(x, y, new int[] {v, v, v, 255});
        } else {
          r.setPixel(x, y, new int[] {v, v, v});
        }
      }
    }
    assertTrue(ImageIO.write(img, "png", file.toFile()));
    return file;
  }

  @Test
  void extractWritesTheEngineRecordForBmpAndEveryKindOfPng() throws Exception {
    Path out = fresh("extract");
    Path bmp = fingers.resolve("finger0.bmp");
    NImage image = NImage.read(bmp);
    byte[] expected;
    try (NFExtractor extractor = new NFExtractor()) {
      expected = extractor.extract(image, NFPosition.UNKNOWN, NFImpressionType.LIVE_SCAN_PLAIN)
          .getData();
    }
    Path rgb = png(image, BufferedImage.TYPE_3BYTE_BGR, out.resolve("rgb.png"));
    Path argb = png(image, BufferedImage.TYPE_INT_ARGB, out.resolve("argb.png"));
    Path deep = png(image, BufferedImage.TYPE_USHORT_GRAY, out.resolve("deep.png"));
    Path records = out.resolve("records");
    Run run = dactyra("extract", bmp.toString(), rgb.toString(), argb.toString(), deep.toString(),
        "--out", records.toString());
    assertEquals(0, run.code, run.toString());
    assertEquals(4, lines(run.out).size(), run.out);
    for (String name : new String[] {"finger0", "rgb", "argb", "deep"}) {
      assertArrayEquals(expected, Files.readAllBytes(records.resolve(name + ".tpl")), name);
    }
    // Without --out the record goes beside the picture.
    Run beside = dactyra("extract", rgb.toString());
    assertEquals(0, beside.code, beside.toString());
    assertArrayEquals(expected, Files.readAllBytes(out.resolve("rgb.tpl")));
  }

  // A record of one minutia with quality, curvature and G, one core and one delta.
  static byte[] handMadeRecord() {
    ByteArrayOutputStream b = new ByteArrayOutputStream();
    for (int i = 0; i < 22; i++) b.write(0);
    b.writeBytes(new byte[] {7, 0, 1, 7});
    b.writeBytes(new byte[] {0x78, 0x56, 0x34, 0x12, 60, 10, 20});  // (145, 1301) type 2, 120
    b.writeBytes(new byte[] {0, 0, 0});
    b.writeBytes(new byte[] {1, 4, 64, 0, 0, 5});  // core (40, 0), angle 64
    b.writeBytes(new byte[] {1, 7, 0, 0, 0, 0, 10, 20, 30});  // delta (0, 0), 10 20 30
    b.writeBytes(new byte[] {0, 4});
    return b.toByteArray();
  }

  @Test
  void showPrintsEveryFeatureOfTheRecord() throws Exception {
    Path file = fresh("show").resolve("hand.tpl");
    byte[] bytes = handMadeRecord();
    Files.write(file, bytes);
    NFRecord record = new NFRecord(bytes);
    Run text = dactyra("show", file.toString());
    assertEquals(0, text.code, text.toString());
    assertTrue(text.out.contains("1 minutia, 1 core, 1 delta, 0 double cores"), text.out);
    assertTrue(text.out.matches("(?s).*\\n +145 +1301 +bifurcation +120 +168\\.8 +60 +10 +20\\n.*"),
        text.out);
    int coreX = record.getCores().get(0).getX();
    int coreY = record.getCores().get(0).getY();
    int coreAngle = record.getCores().get(0).getAngle();
    assertTrue(text.out.matches("(?s).*\\ncores:\\n.*\\n +" + coreX + " +" + coreY + " +"
        + coreAngle + " .*"), text.out);
    assertTrue(text.out.matches("(?s).*\\ndeltas:\\n.*\\n +0 +0 +10 +20 +30\\n.*"), text.out);
    Run json = dactyra("show", "--json", file.toString());
    assertEquals(0, json.code, json.toString());
    assertTrue(json.out.contains("{\"x\": 145, \"y\": 1301, \"type\": 2, \"kind\": "
        + "\"bifurcation\", \"angle\": 120, \"degrees\": 168.8, \"quality\": 60, "
        + "\"curvature\": 10, \"g\": 20}"), json.out);
    assertTrue(json.out.contains("{\"x\": 0, \"y\": 0, \"angles\": [10, 20, 30]}"), json.out);
    assertTrue(json.out.contains("\"doubleCores\": []"), json.out);
    // A record without the optional bytes shows them as absent.
    byte[] plain = bytes.clone();
    plain[22] = 0;
    plain[25] = 4;
    Files.write(file, Arrays.copyOf(plain, 30));
    Run absent = dactyra("show", "--json", file.toString());
    assertTrue(absent.out.contains("\"quality\": null, \"curvature\": null, \"g\": null"),
        absent.out);
  }

  @Test
  void drawOfAnotherPicturesTemplateWarnsAndAGrayTableIsApplied() throws Exception {
    Path dir = fresh("draw");
    // A 40 x 32 picture whose colour table runs from white to black.
    byte[] pixels = new byte[40 * 32];
    for (int i = 0; i < pixels.length; i++) pixels[i] = (byte) (i % 200);
    byte[] bmp = new NImage(40, 32, pixels).toBMP();
    int table = 14 + (bmp[14] & 0xFF);
    for (int i = 0; i < 256; i++) {
      Arrays.fill(bmp, table + 4 * i, table + 4 * i + 3, (byte) (255 - i));
    }
    Path picture = Files.write(dir.resolve("inverted.bmp"), bmp);
    Path template = Files.write(dir.resolve("hand.tpl"), handMadeRecord());
    Path drawn = dir.resolve("drawn.png");
    Run run = dactyra("draw", picture.toString(), template.toString(), "--out", drawn.toString());
    assertEquals(0, run.code, run.toString());
    // The minutia at (145, 1301) and the core at (40, 0) lie outside; the delta at (0, 0) is
    // drawn in the corner; elsewhere the picture is the picture through its table.
    assertTrue(run.err.startsWith("dactyra: draw: warning: 2 features lie outside the 40x32"),
        run.err);
    BufferedImage img = ImageIO.read(drawn.toFile());
    assertEquals(255 - 37, img.getRGB(37, 0) & 0xFF);
    assertEquals(255 - 150, img.getRGB(30, 3) & 0xFF);
  }

  // A BMP with 24 bits per pixel and one with a coloured table.
  static Path[] badBmps(Path dir) throws IOException {
    BufferedImage rgb = new BufferedImage(40, 40, BufferedImage.TYPE_3BYTE_BGR);
    Path deep = dir.resolve("rgb24.bmp");
    assertTrue(ImageIO.write(rgb, "bmp", deep.toFile()));
    byte[] bmp = new NImage(40, 40, new byte[1600]).toBMP();
    int table = 14 + (bmp[14] & 0xFF);
    bmp[table + 4 * 9] = (byte) 200;  // entry 9: blue 200, green and red 9
    Path coloured = Files.write(dir.resolve("coloured.bmp"), bmp);
    return new Path[] {deep, coloured};
  }

  @Test
  void mistakesGiveOneLineAndTheirExitCode() throws Exception {
    Path dir = fresh("errors");
    Path[] bad = badBmps(dir);
    Path text = Files.writeString(dir.resolve("notes.txt"), "not a picture");
    Path shortRecord = Files.write(dir.resolve("short.tpl"), new byte[10]);
    Path finger = fingers.resolve("finger0.bmp");
    Path template = Files.write(dir.resolve("hand.tpl"), handMadeRecord());
    Path truncated = Files.write(dir.resolve("cut.tpl"), Arrays.copyOf(handMadeRecord(), 30));
    Object[][] table = {
        // Usage mistakes: exit 2.
        {new String[] {}, 2, "no command given"},
        {new String[] {"frobnicate"}, 2, "unknown command 'frobnicate'"},
        {new String[] {"capture", "--count", "0"}, 2, "--count must be a whole number"},
        {new String[] {"capture", "--count", "x"}, 2, "not 'x'"},
        {new String[] {"capture", "--format", "gif"}, 2, "--format must be bmp or png"},
        {new String[] {"capture", "--bogus"}, 2, "unknown option --bogus"},
        {new String[] {"capture", "--reader"}, 2, "--reader needs a value"},
        {new String[] {"capture", "--count=2", "--count=3"}, 2, "--count given twice"},
        {new String[] {"readers", "--wait", "-1"}, 2, "--wait must be"},
        {new String[] {"readers", "extra"}, 2, "unexpected argument 'extra'"},
        {new String[] {"extract"}, 2, "no image given"},
        {new String[] {"show"}, 2, "no template given"},
        {new String[] {"show", "a.tpl", "b.tpl"}, 2, "one template at a time"},
        {new String[] {"show", "--json=yes", "a.tpl"}, 2, "--json takes no value"},
        {new String[] {"draw", finger.toString(), template.toString()}, 2, "--out PNG is required"},
        {new String[] {"draw", finger.toString(), "--out", "x.png"}, 2, "needs an image and a"},
        // Failures: exit 1.
        {new String[] {"extract", "missing.bmp"}, 1, "missing.bmp: no such file"},
        {new String[] {"extract", bad[0].toString()}, 1,
            "not an 8-bit gray BMP (24 bits per pixel)"},
        {new String[] {"extract", bad[1].toString()}, 1, "its colour table has colours"},
        {new String[] {"extract", text.toString()}, 1, "not a BMP or PNG file"},
        {new String[] {"show", "missing.tpl"}, 1, "missing.tpl: no such file"},
        {new String[] {"show", shortRecord.toString()}, 1, "not a template record (10 bytes"},
        {new String[] {"show", truncated.toString()}, 1, "its 1 minutiae need 33 bytes"},
        {new String[] {"show", finger.toString()}, 1, "a picture, not a template record"},
        {new String[] {"draw", text.toString(), template.toString(), "--out", "x.png"}, 1,
            "not a BMP or PNG file"},
        {new String[] {"draw", finger.toString(), template.toString(), "--out",
            dir.resolve("no/such/folder/x.png").toString()}, 1, "draw: cannot write"},
        {new String[] {"capture", "--reader", "Nope\\1"}, 1,
            "no reader named 'Nope\\1' (attached: "},
    };
    for (Object[] row : table) {
      String[] args = (String[]) row[0];
      Run run = dactyra(args);
      String what = "dactyra " + String.join(" ", args) + "\n" + run;
      assertEquals((int) (Integer) row[1], run.code, what);
      assertEquals("", run.out, what);
      assertEquals(1, lines(run.err).size(), what);
      assertTrue(run.err.startsWith("dactyra: ") && run.err.contains((String) row[2]), what);
    }
    // A picture that fails does not keep the others from their record.
    Run mixed = dactyra("extract", "missing.bmp", finger.toString(), "--out", dir.toString());
    assertEquals(1, mixed.code, mixed.toString());
    assertTrue(Files.exists(dir.resolve("finger0.tpl")), mixed.toString());
    assertTrue(mixed.err.contains("1 of 2 pictures failed"), mixed.err);
    // Two pictures of one name into one folder: the first keeps its record.
    Path other = Files.createDirectories(dir.resolve("other")).resolve("finger0.bmp");
    Files.copy(fingers.resolve("finger1.bmp"), other);
    Path both = Files.createDirectories(dir.resolve("both"));
    Run twice = dactyra("extract", finger.toString(), other.toString(), "--out", both.toString());
    assertEquals(1, twice.code, twice.toString());
    assertTrue(twice.err.contains("is the record of an earlier picture already"), twice.err);
    assertArrayEquals(Files.readAllBytes(dir.resolve("finger0.tpl")),
        Files.readAllBytes(both.resolve("finger0.tpl")));
    // No engine beside the library, and no library at all.
    Map<String, String> bare = new HashMap<>();
    bare.put("DACTYRA_LIBRARY_DIR", System.getProperty("dactyra.cli.bare"));
    Run noEngine = dactyra(bare, "extract", finger.toString(), "--out", dir.toString());
    assertEquals(1, noEngine.code, noEngine.toString());
    assertTrue(noEngine.err.startsWith("dactyra: extract: Could not load VxExtractor library"),
        noEngine.err);
    Run noLibrary = dactyra(Map.of("DACTYRA_LIBRARY_DIR", dir.toString()), "readers");
    assertEquals(1, noLibrary.code, noLibrary.toString());
    assertTrue(noLibrary.err.startsWith("dactyra: cannot load the native library"),
        noLibrary.err);
  }

  @Test
  void aReaderHeldByAnotherCaptureIsInUse() throws Exception {
    Path out = fresh("busy");
    Process holder = start(Map.of(), "capture", "--reader", prefix + "\\A", "--count", "100000",
        "--out", out.toString());
    drain(holder.getInputStream());
    drain(holder.getErrorStream());
    try {
      // Wait until the holder has written an image: the reader is taken.
      long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(60);
      while (!Files.exists(out.resolve(prefix + "_A-000001.bmp")) && System.nanoTime() < end) {
        assertTrue(holder.isAlive(), "the holder ended early");
        Thread.sleep(20);
      }
      assertTrue(Files.exists(out.resolve(prefix + "_A-000001.bmp")));
      Run busy = dactyra("capture", "--reader", prefix + "\\A", "--out", out.toString());
      assertEquals(1, busy.code, busy.toString());
      assertEquals("dactyra: capture: reader " + prefix + "\\A is in use by another program\n",
          busy.err);
      Run list = dactyra("readers", "--wait", "2");
      assertEquals(0, list.code, list.toString());
      assertTrue(list.out.matches("(?s).*" + Pattern.quote(prefix + "\\A") + " +" + prefix
          + " +in use\\n.*"), list.out);
      assertTrue(list.out.contains("40x30"), "reader B is free: " + list.out);
    } finally {
      holder.destroy();
      assertTrue(holder.waitFor(30, TimeUnit.SECONDS));
    }
    // Once the holder is gone the reader is free again.
    Run after = dactyra("capture", "--reader", prefix + "\\A", "--out", fresh("after").toString());
    assertEquals(0, after.code, after.toString());
  }
}
