package br.com.tessiva.cli;

import static br.com.tessiva.cli.DactyraToolTest.dactyra;
import static br.com.tessiva.cli.DactyraToolTest.fresh;
import static br.com.tessiva.cli.DactyraToolTest.lines;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import br.com.tessiva.cli.DactyraToolTest.Run;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * The tool's enroll, identify, verify and db commands through the real launcher, each a process of
 * its own, on impressions of synthetic fingers (finger F's impression K is fingerF-K.bmp): what one
 * process enrolls, the next finds.
 */
class BaseCommandsTest {
  static Path impressions;

  @BeforeAll
  static void setUp() throws Exception {
    DactyraToolTest.setUp();
    impressions = Paths.get(System.getProperty("dactyra.test.impressions"));
  }

  static String picture(int finger, int k) {
    return impressions.resolve("finger" + finger + "-" + k + ".bmp").toString();
  }

  @Test
  void enrolledFingersAreIdentifiedVerifiedListedAndRemoved() throws Exception {
    String db = fresh("base-road").resolve("people.db").toString();
    Run ana = dactyra("enroll", "--db", db, "--code", "ana", "--finger", "2", picture(0, 0),
        picture(0, 1), picture(0, 2));
    assertEquals(0, ana.code, ana.toString());
    assertEquals("enrolled ana finger 2 as entry 1 from 3 pictures\n", ana.out);
    Run bia = dactyra("enroll", "--db", db, "--code", "bia", picture(1, 0), picture(1, 1),
        picture(1, 2));
    assertEquals(0, bia.code, bia.toString());

    Run found = dactyra("identify", "--db", db, picture(0, 4), picture(1, 3));
    assertEquals(0, found.code, found.toString());
    List<String> rows = lines(found.out);
    assertEquals(2, rows.size(), found.out);
    assertTrue(rows.get(0).matches("\\Q" + picture(0, 4) + "\\E\tana\t2\t\\d+"), rows.get(0));
    assertTrue(rows.get(1).matches("\\Q" + picture(1, 3) + "\\E\tbia\t0\t\\d+"), rows.get(1));
    Run missed = dactyra("identify", "--db", db, picture(0, 3), picture(2, 0));
    assertEquals(1, missed.code, missed.toString());
    assertEquals(picture(2, 0) + "\tnot found", lines(missed.out).get(1));

    Run yes = dactyra("verify", "--db", db, "--code", "bia", picture(1, 4));
    assertEquals(0, yes.code, yes.toString());
    assertTrue(yes.out.matches("match: bia score \\d+ \\(threshold \\d+\\)\n"), yes.out);
    Run no = dactyra("verify", "--db", db, "--code", "bia", picture(0, 4));
    assertEquals(1, no.code, no.toString());
    assertTrue(no.out.startsWith("no match: bia score "), no.out);

    Run list = dactyra("db", db, "list");
    assertEquals(0, list.code, list.toString());
    List<String> entries = lines(list.out);
    assertEquals("ID\tCODE\tFINGER\tENROLLED\tLAST RECOGNISED\tRECOGNITIONS", entries.get(0));
    assertTrue(entries.get(1).matches("1\tana\t2\t[-0-9]{10} [:0-9]{8}\t[-0-9]{10} [:0-9]{8}\t2"),
        entries.get(1));
    assertTrue(entries.get(2).matches("2\tbia\t0\t[-0-9]{10} [:0-9]{8}\t[-0-9: ]{19}\t1"),
        entries.get(2));

    Run removed = dactyra("db", db, "remove", "ana");
    assertEquals(0, removed.code, removed.toString());
    assertEquals("removed 1 entry of ana\n", removed.out);
    assertEquals(1, dactyra("identify", "--db", db, picture(0, 4)).code);
    Run compact = dactyra("db", db, "compact");
    assertEquals(0, compact.code, compact.toString());
    assertTrue(compact.out.startsWith("compacted " + db + ": "), compact.out);
    assertEquals(List.of("bia"), lines(dactyra("db", db, "list").out).stream().skip(1)
        .map(r -> r.split("\t")[1]).toList());
  }

  @Test
  void mistakesAndFailuresAreOneLineWithTheirExitCode() throws Exception {
    Path dir = fresh("base-mistakes");
    String db = dir.resolve("people.db").toString();
    String missing = dir.resolve("missing.db").toString();
    Path notes = dir.resolve("notes.db");
    Files.writeString(notes, "ana,2\n");
    String[] three = {picture(0, 0), picture(0, 1), picture(0, 2)};
    assertEquals(0, dactyra("enroll", "--db", db, "--code", "ana", three[0], three[1], three[2])
        .code);
    Object[][] cases = {
        {2, "enroll: --db FILE is needed", new String[] {"enroll", "--code", "x", three[0]}},
        {2, "enroll: --code CODE is needed", new String[] {"enroll", "--db", db, three[0]}},
        {2, "enroll: --finger must be a whole number from 0 to 15, not '16'",
            new String[] {"enroll", "--db", db, "--code", "x", "--finger", "16", three[0]}},
        {2, "enroll: one to ten pictures are needed, not 0",
            new String[] {"enroll", "--db", db, "--code", "x"}},
        {1, "enroll: The images do not agree",
            new String[] {"enroll", "--db", db, "--code", "x", picture(0, 0), picture(1, 0)}},
        {1, "identify: " + missing + ": no such file",
            new String[] {"identify", "--db", missing, three[0]}},
        {1, "identify: Not a usable fingerprint database",
            new String[] {"identify", "--db", notes.toString(), three[0]}},
        {1, "verify: no finger is enrolled under bia",
            new String[] {"verify", "--db", db, "--code", "bia", three[0]}},
        {2, "verify: one picture is needed, not 2",
            new String[] {"verify", "--db", db, "--code", "ana", three[0], three[1]}},
        {2, "db: unknown action 'drop'", new String[] {"db", db, "drop"}},
        {2, "db: remove takes one code", new String[] {"db", db, "remove"}},
        {1, "db: no finger is enrolled under bia", new String[] {"db", db, "remove", "bia"}},
    };
    for (Object[] c : cases) {
      String[] args = (String[]) c[2];
      Run run = dactyra(args);
      String line = "dactyra: " + c[1];
      assertEquals((int) c[0], run.code, String.join(" ", args) + "\n" + run);
      assertTrue(run.err.startsWith(line), line + "\n" + run);
      assertEquals(1, lines(run.err).size(), run.toString());
    }
    assertFalse(Files.exists(Paths.get(missing)), "identify made no file");
    assertArrayEquals("ana,2\n".getBytes("UTF-8"), Files.readAllBytes(notes));
    assertEquals(2, lines(dactyra("db", db, "list").out).size(), "only ana is enrolled");
  }
}
