package br.com.tessiva.cli;

import br.com.tessiva.images.MinutiaeDrawing;
import br.com.tessiva.images.NImage;
import br.com.tessiva.templates.NFRecord;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Set;

/** "dactyra draw": a template's features drawn over its picture, as a PNG file. */
final class DrawCommand implements Command {
  @Override
  public String name() {
    return "draw";
  }

  @Override
  public String summary() {
    return "draw a template's minutiae over its picture as PNG";
  }

  @Override
  public String help() {
    return "Usage: dactyra draw IMAGE TEMPLATE --out PNG\n"
        + "Draws the features of the template record over the picture (BMP or PNG, as\n"
        + "'dactyra extract' reads them) and writes the result as a colour PNG file:\n"
        + "ridge endings as red circles, bifurcations as blue squares, other minutiae as\n"
        + "orange crosses, each with a line in its direction; cores as green circles, deltas as\n"
        + "magenta triangles with their three directions, double cores as cyan rings.\n"
        + "Features outside the picture are left out with a warning (a template of another\n"
        + "picture).\n\n"
        + "  --out PNG   the file to write (required)\n";
  }

  @Override
  public int run(String[] argv, PrintStream out, PrintStream err) throws Exception {
    Args args = new Args("draw", argv, Set.of("--out"), Set.of());
    if (args.operands().size() != 2) {
      throw CliException.usage("draw: needs an image and a template, got "
          + args.operands().size() + " arguments");
    }
    if (!args.has("--out")) throw CliException.usage("draw: --out PNG is required");
    Path imageFile = Paths.get(args.operands().get(0));
    Path recordFile = Paths.get(args.operands().get(1));
    Path target = Paths.get(args.get("--out", ""));
    NImage image = GrayImages.read(imageFile);
    if (image.width == 0 || image.height == 0) {
      throw CliException.failure("draw: " + imageFile + ": the picture has no pixels");
    }
    NFRecord record = ShowCommand.readRecord(recordFile);
    MinutiaeDrawing drawing = new MinutiaeDrawing(image).drawRecord(record);
    try {
      drawing.writePNG(target);
    } catch (IOException e) {
      throw CliException.failure("draw: cannot write " + target + ": " + Dactyra.describe(e));
    }
    if (drawing.outside() > 0) {
      err.println("dactyra: draw: warning: " + drawing.outside() + " features lie outside the "
          + image.width + "x" + image.height + " picture; is the template of another picture?");
    }
    out.println(target + ": " + ShowCommand.summary(record) + " drawn over " + imageFile);
    return 0;
  }
}
