package br.com.tessiva.cli;

import br.com.tessiva.fingers.ExtractorException;
import br.com.tessiva.fingers.NFExtractor;
import br.com.tessiva.fingers.NFImpressionType;
import br.com.tessiva.fingers.NFPosition;
import br.com.tessiva.images.NImage;
import br.com.tessiva.templates.NFRecord;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Set;

/**
 * "dactyra extract": one template record file per picture, by the extraction engine. A picture
 * that fails is reported and the others are still done; the exit code tells that one failed.
 */
final class ExtractCommand implements Command {
  /** The extension of template record files. */
  static final String EXTENSION = ".tpl";

  @Override
  public String name() {
    return "extract";
  }

  @Override
  public String summary() {
    return "extract minutiae templates from BMP or PNG pictures";
  }

  @Override
  public String help() {
    return "Usage: dactyra extract IMAGE... [--out DIR]\n"
        + "Extracts the template of each picture with the extraction engine (VxExtract) and\n"
        + "writes its record bytes as NAME" + EXTENSION + ", NAME being the picture's name without\n"
        + "its extension. Pictures are 8-bit gray BMP files or PNG files (PNG pictures in colour,\n"
        + "with a palette, alpha or another depth are converted to gray). Prints one line per\n"
        + "picture; a picture that fails does not stop the others, but the exit code is 1.\n\n"
        + "  --out DIR   the folder of the records, made when missing (default: beside each\n"
        + "              picture)\n";
  }

  @Override
  public int run(String[] argv, PrintStream out, PrintStream err) throws Exception {
    Args args = new Args("extract", argv, Set.of("--out"), Set.of());
    if (args.operands().isEmpty()) throw CliException.usage("extract: no image given");
    Path folder = args.has("--out") ? Paths.get(args.get("--out", ".")) : null;
    if (folder != null) {
      try {
        Files.createDirectories(folder);
      } catch (IOException e) {
        throw CliException.failure("extract: cannot make the folder " + folder + ": "
            + Dactyra.describe(e));
      }
    }
    int failed = 0;
    try (NFExtractor extractor = open()) {
      for (String name : args.operands()) {
        try {
          extract(extractor, Paths.get(name), folder, out);
        } catch (CliException e) {
          if (args.operands().size() == 1) throw e;
          err.println("dactyra: " + Dactyra.oneLine(e.getMessage()));
          failed++;
        }
      }
    }
    if (failed > 0) {
      throw CliException.failure("extract: " + failed + " of " + args.operands().size()
          + " pictures failed");
    }
    return 0;
  }

  private static NFExtractor open() throws CliException {
    try {
      return new NFExtractor();
    } catch (ExtractorException e) {
      throw CliException.failure("extract: " + Dactyra.oneLine(e.getMessage()));
    }
  }

  private static void extract(NFExtractor extractor, Path file, Path folder, PrintStream out)
      throws CliException {
    NImage image = GrayImages.read(file);
    if (image.width == 0 || image.height == 0) {
      throw CliException.failure("extract: " + file + ": the picture has no pixels");
    }
    NFRecord record;
    try {
      record = extractor.extract(image, NFPosition.UNKNOWN, NFImpressionType.LIVE_SCAN_PLAIN);
    } catch (ExtractorException e) {
      throw CliException.failure("extract: " + file + ": " + Dactyra.oneLine(e.getMessage()));
    }
    String stem = file.getFileName().toString();
    int dot = stem.lastIndexOf('.');
    if (dot > 0) stem = stem.substring(0, dot);
    Path target = folder != null ? folder.resolve(stem + EXTENSION)
                                 : file.resolveSibling(stem + EXTENSION);
    try {
      Files.write(target, record.getData());
    } catch (IOException e) {
      throw CliException.failure("extract: cannot write " + target + ": " + Dactyra.describe(e));
    }
    out.println(file + " -> " + target + ": " + ShowCommand.summary(record));
  }
}
