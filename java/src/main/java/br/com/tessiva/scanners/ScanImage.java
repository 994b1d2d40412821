package br.com.tessiva.scanners;

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

  public int getWidth() {
    return width;
  }

  public int getHeight() {
    return height;
  }

  /** The gray level (0 to 255) of pixel ({@code x}, {@code y}), row 0 being the top row. */
  public int getPixel(int x, int y) {
    if (x < 0 || x >= width || y < 0 || y >= height) {
      throw new IndexOutOfBoundsException("(" + x + ", " + y + ") outside " + width + " x " + height);
    }
    return buffer[y * width + x] & 0xFF;
  }
}
