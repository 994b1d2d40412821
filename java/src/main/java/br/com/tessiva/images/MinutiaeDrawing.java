package br.com.tessiva.images;

import br.com.tessiva.templates.NFCore;
import br.com.tessiva.templates.NFDelta;
import br.com.tessiva.templates.NFDoubleCore;
import br.com.tessiva.templates.NFItem;
import br.com.tessiva.templates.NFMinutia;
import br.com.tessiva.templates.NFRecord;
import java.awt.Color;
import java.awt.Graphics2D;
import java.awt.image.BufferedImage;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Collection;
import java.util.Objects;
import javax.imageio.ImageIO;

/**
 * Draws the features of a template record over the gray picture they were found in, as an RGB
 * picture that can be written as PNG.
 *
 * <p>The picture starts as an RGB copy of the gray levels (each pixel red = green = blue = its
 * gray level). Each draw call then marks features on it in colours that are never gray:
 *
 * <ul>
 *   <li>a minutia: a circle (ridge ending, type 1, {@link #ENDING}), a square (bifurcation, type
 *       2, {@link #BIFURCATION}) or a cross (types 0 and 3, {@link #OTHER_MINUTIA}) around its
 *       position, with a line from the position in its direction;
 *   <li>a core: a larger circle with a line in its direction ({@link #CORE});
 *   <li>a delta: a triangle with a line along each of its three angles ({@link #DELTA});
 *   <li>a double core: two concentric circles ({@link #DOUBLE_CORE});
 *   <li>a second set of points ({@link #drawMarks}), e.g. the true minutiae of a synthetic
 *       finger: a diamond with a direction line ({@link #MARK} unless another colour is given).
 * </ul>
 *
 * <p>Positions are pixels from the top-left corner. Record angles are in 256ths of a turn,
 * counter-clockwise on the screen from the +x axis (an angle a points to (cos θ, −sin θ) with θ =
 * 2πa/256); the marks of the second set carry θ in radians with the same convention. A feature
 * whose position lies outside the picture is not drawn and is counted by {@link #outside()}
 * (a record taken from a larger picture loses those features); marks near the border are clipped.
 * Drawing is in whole pixels without anti-aliasing, so colours are exact.
 *
 * <p>An object is not safe for use by several threads at once.
 */
public final class MinutiaeDrawing {
  /** Ridge endings: red circles. */
  public static final Color ENDING = new Color(235, 40, 40);
  /** Bifurcations: blue squares. */
  public static final Color BIFURCATION = new Color(40, 100, 255);
  /** Minutiae of another type: orange crosses. */
  public static final Color OTHER_MINUTIA = new Color(255, 150, 0);
  /** Cores: green circles. */
  public static final Color CORE = new Color(0, 200, 0);
  /** Deltas: magenta triangles. */
  public static final Color DELTA = new Color(230, 0, 230);
  /** Double cores: cyan double circles. */
  public static final Color DOUBLE_CORE = new Color(0, 200, 220);
  /** Marks of a second set, by default: yellow diamonds. */
  public static final Color MARK = new Color(240, 220, 0);

  /** A point of a second set: position in pixels, direction θ in radians (see above). */
  public record Mark(double x, double y, double angle) {}

  private final BufferedImage image;
  private final Graphics2D g;
  private final int radius;
  private int outside;

  /**
   * A drawing over a copy of {@code image}'s gray levels.
   *
   * @param image the picture to draw over
   * @throws IllegalArgumentException if a size is not positive or the pixels are too few
   */
  public MinutiaeDrawing(NImage image) {
    this(Objects.requireNonNull(image, "image").width, image.height, image.buffer);
  }

  /**
   * A drawing over a copy of {@code pixels}: {@code width} × {@code height} gray levels, top row
   * first.
   *
   * @param width pixels per row
   * @param height number of rows
   * @param pixels the gray levels
   * @throws IllegalArgumentException if a size is not positive or {@code pixels} is null or
   *     holds fewer than {@code width} × {@code height} bytes
   */
  public MinutiaeDrawing(int width, int height, byte[] pixels) {
    if (width <= 0 || height <= 0) {
      throw new IllegalArgumentException("cannot draw on a " + width + " x " + height + " image");
    }
    if (pixels == null || pixels.length < (long) width * height) {
      throw new IllegalArgumentException(width + " x " + height + " needs " + (long) width * height
          + " pixels, not " + (pixels == null ? 0 : pixels.length));
    }
    image = new BufferedImage(width, height, BufferedImage.TYPE_INT_RGB);
    int[] row = new int[width];
    for (int y = 0; y < height; y++) {
      for (int x = 0; x < width; x++) {
        int v = pixels[y * width + x] & 0xFF;
        row[x] = v << 16 | v << 8 | v;
      }
      image.setRGB(0, y, width, 1, row, 0, width);
    }
    g = image.createGraphics();
    // Marks grow with the picture so that they stay visible on large images.
    radius = Math.max(4, Math.min(width, height) / 60);
  }

  /**
   * Draws the minutiae, cores, deltas and double cores of {@code record}.
   *
   * @param record the template record
   * @return this drawing
   */
  public MinutiaeDrawing drawRecord(NFRecord record) {
    Objects.requireNonNull(record, "record");
    for (NFMinutia m : record.getMinutiae()) {
      if (!inside(m)) continue;
      int x = m.getX();
      int y = m.getY();
      int r = radius;
      switch (m.getType()) {
        case 1:
          g.setColor(ENDING);
          g.drawOval(x - r, y - r, 2 * r, 2 * r);
          break;
        case 2:
          g.setColor(BIFURCATION);
          g.drawRect(x - r, y - r, 2 * r, 2 * r);
          break;
        default:
          g.setColor(OTHER_MINUTIA);
          g.drawLine(x - r, y - r, x + r, y + r);
          g.drawLine(x - r, y + r, x + r, y - r);
          break;
      }
      direction(x, y, turns(m.getAngle()), 3 * r);
    }
    g.setColor(CORE);
    for (NFCore c : record.getCores()) {
      if (!inside(c)) continue;
      int r = 2 * radius;
      g.drawOval(c.getX() - r, c.getY() - r, 2 * r, 2 * r);
      direction(c.getX(), c.getY(), turns(c.getAngle()), 2 * r);
    }
    g.setColor(DELTA);
    for (NFDelta d : record.getDeltas()) {
      if (!inside(d)) continue;
      int x = d.getX();
      int y = d.getY();
      int r = 2 * radius;
      g.drawPolygon(new int[] {x, x - r, x + r}, new int[] {y - r, y + r, y + r}, 3);
      for (int a : new int[] {d.getAngle1(), d.getAngle2(), d.getAngle3()}) {
        direction(x, y, turns(a), 2 * r);
      }
    }
    g.setColor(DOUBLE_CORE);
    for (NFDoubleCore c : record.getDoubleCores()) {
      if (!inside(c)) continue;
      int r = 2 * radius;
      g.drawOval(c.getX() - r, c.getY() - r, 2 * r, 2 * r);
      g.drawOval(c.getX() - r / 2, c.getY() - r / 2, r, r);
    }
    return this;
  }

  /**
   * Draws {@code marks} in {@link #MARK}.
   *
   * @param marks the points of a second set
   * @return this drawing
   */
  public MinutiaeDrawing drawMarks(Collection<Mark> marks) {
    return drawMarks(marks, MARK);
  }

  /**
   * Draws {@code marks} as diamonds with a direction line in {@code colour}.
   *
   * @param marks the points of a second set
   * @param colour their colour
   * @return this drawing
   */
  public MinutiaeDrawing drawMarks(Collection<Mark> marks, Color colour) {
    Objects.requireNonNull(marks, "marks");
    g.setColor(Objects.requireNonNull(colour, "colour"));
    for (Mark m : marks) {
      if (!(m.x() >= 0 && m.y() >= 0 && m.x() < image.getWidth() && m.y() < image.getHeight())) {
        outside++;
        continue;
      }
      int x = (int) m.x();
      int y = (int) m.y();
      int r = radius + 1;
      g.drawPolygon(new int[] {x, x + r, x, x - r}, new int[] {y - r, y, y + r, y}, 4);
      double angle = Double.isFinite(m.angle()) ? m.angle() : 0;
      direction(x, y, angle, 3 * radius);
    }
    return this;
  }

  /** {@return the number of features and marks not drawn because their position lies outside} */
  public int outside() {
    return outside;
  }

  /** {@return the picture drawn so far (the object itself, not a copy)} */
  public BufferedImage image() {
    return image;
  }

  /**
   * Writes the picture as PNG to {@code out}; the stream is not closed.
   *
   * @param out the stream
   * @throws IOException when the stream fails or the runtime has no PNG writer
   */
  public void writePNG(OutputStream out) throws IOException {
    if (!ImageIO.write(image, "png", out)) {
      throw new IOException("no PNG writer in this Java runtime");
    }
  }

  /**
   * Writes the picture as a PNG file, replacing {@code file}.
   *
   * @param file the file
   * @throws IOException when the file cannot be written or the runtime has no PNG writer
   */
  public void writePNG(Path file) throws IOException {
    try (OutputStream out = Files.newOutputStream(file)) {
      writePNG(out);
    }
  }

  /**
   * Draws {@code record} and then {@code marks} (may be null) over {@code image} and writes the
   * result as a PNG file.
   *
   * @param image the picture to draw over
   * @param record the template record
   * @param marks the points of a second set, or null
   * @param file the PNG file, replaced
   * @return {@link #outside()}: the features and marks not drawn
   * @throws IOException when the file cannot be written or the runtime has no PNG writer
   */
  public static int writePNG(NImage image, NFRecord record, Collection<Mark> marks, Path file)
      throws IOException {
    MinutiaeDrawing drawing = new MinutiaeDrawing(image).drawRecord(record);
    if (marks != null) drawing.drawMarks(marks);
    drawing.writePNG(file);
    return drawing.outside();
  }

  private boolean inside(NFItem item) {
    if (item.getX() < image.getWidth() && item.getY() < image.getHeight()) return true;
    outside++;
    return false;
  }

  private static double turns(int angle256) {
    return angle256 * (2 * Math.PI / 256);
  }

  // A line of `length` pixels from (x, y) towards θ; y grows downwards, so it goes up for θ > 0.
  private void direction(int x, int y, double theta, int length) {
    int x2 = x + (int) Math.round(length * Math.cos(theta));
    int y2 = y - (int) Math.round(length * Math.sin(theta));
    g.drawLine(x, y, x2, y2);
  }
}
