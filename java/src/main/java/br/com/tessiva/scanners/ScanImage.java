package br.com.tessiva.scanners;

import br.com.tessiva.images.NImage;

/**
 * A captured 8-bit gray image: {@link #getWidth()} &times; {@link #getHeight()} bytes in {@link
 * #buffer}, one byte per pixel (0 black to 255 white), the top row first, each row {@code width}
 * bytes, no padding.
 */
public final class ScanImage {
  private final int width;
  private final int height;

  /** The pixels; the native library writes them after construction. */
  public byte[] buffer;

  /**
   * An image of that size, all pixels 0.
   *
   * @param width pixels per row
   * @param height number of rows
   * @throws IllegalArgumentException when a dimension is negative or the image would not fit one
   *     array
   */
  public ScanImage(int width, int height) {
    if (width < 0 || height < 0 || (long) width * height > Integer.MAX_VALUE - 8) {
      throw new IllegalArgumentException("Bad image size " + width + " x " + height);
    }
    this.width = width;
    this.height = height;
    this.buffer = new byte[width * height];
  }

  /**
   * Pixels per row.
   *
   * @return the width
   */
  public int getWidth() {
    return width;
  }

  /**
   * Number of rows.
   *
   * @return the height
   */
  public int getHeight() {
    return height;
  }

  /**
   * The image as an {@link NImage} holding a copy of the pixels, to save as BMP or hand to an
   * extractor; later changes to either do not reach the other.
   *
   * @return a new picture of the same size and pixels
   * @throws IllegalArgumentException when {@link #buffer} was replaced by an array that does not
   *     hold exactly {@code width} &times; {@code height} bytes
   */
  public NImage toNImage() {
    return new NImage(width, height, buffer);
  }

  /**
   * The gray level of one pixel.
   *
   * @param x the column, 0 at the left
   * @param y the row, 0 at the top
   * @return the gray level, 0 (black) to 255 (white)
   * @throws IndexOutOfBoundsException when the pixel lies outside the image
   */
  public int getPixel(int x, int y) {
    if (x < 0 || x >= width || y < 0 || y >= height) {
      throw new IndexOutOfBoundsException("(" + x + ", " + y + ") outside " + width + " x " + height);
    }
    return buffer[y * width + x] & 0xFF;
  }
}
