package br.com.tessiva.images;

import br.com.tessiva.NativeLibrary;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Objects;

/**
 * An 8-bit gray picture: {@code width} × {@code height} gray levels, row after row, top row
 * first, without padding between rows.
 *
 * <p>{@link #loadBMP} and {@link #saveBMP} read and write the bytes of an 8-bit BMP file. On
 * loading, the palette index of each pixel is its gray level (the file's colour table is not
 * looked at); on saving, a gray ramp is written as the colour table. Only uncompressed 8-bit files
 * are read. The static {@code read} and the {@code write} methods do the same with files and
 * streams and report a file that is no 8-bit BMP as an {@link IOException}.
 *
 * <p>An object is not safe for use by several threads at once; different objects are independent.
 */
public class NImage {
  static {
    NativeLibrary.ensureLoaded();
  }

  /** Pixels per row. */
  public int width;
  /** Number of rows. */
  public int height;
  /** {@code width} × {@code height} gray levels, top row first. */
  public byte[] buffer;

  /** An empty picture (0 × 0). */
  public NImage() {
    buffer = new byte[0];
  }

  /**
   * A picture of the given size holding a copy of {@code pixels}, top row first.
   *
   * @param width pixels per row
   * @param height number of rows
   * @param pixels {@code width} × {@code height} gray levels
   * @throws IllegalArgumentException if a size is negative or {@code pixels} does not hold exactly
   *     {@code width} × {@code height} bytes
   */
  public NImage(int width, int height, byte[] pixels) {
    Objects.requireNonNull(pixels, "pixels");
    if (width < 0 || height < 0) {
      throw new IllegalArgumentException("negative size " + width + " x " + height);
    }
    if ((long) width * height != pixels.length) {
      throw new IllegalArgumentException(width + " x " + height + " needs " + (long) width * height
          + " bytes, not " + pixels.length);
    }
    this.width = width;
    this.height = height;
    this.buffer = pixels.clone();
  }

  /**
   * Replaces this picture with the one in {@code bmp}, the bytes of an uncompressed 8-bit BMP
   * file. When the bytes are no such file, the exception's message is "Wrong file format" and the
   * picture is left as it was.
   *
   * @param bmp the bytes of the file
   * @throws Exception when the bytes are no uncompressed 8-bit BMP file
   */
  public native void loadBMP(byte[] bmp) throws Exception;

  /**
   * The picture as the bytes of an 8-bit BMP file with a gray colour table; an empty array when
   * {@code width} or {@code height} is 0.
   *
   * @return the bytes of the file
   * @throws Exception if a size is negative, the picture is too large for a BMP file, or {@code
   *     buffer} is missing or shorter than {@code width} × {@code height}
   */
  public native byte[] saveBMP() throws Exception;

  /**
   * A new picture from the bytes of an 8-bit BMP file.
   *
   * @param bmp the bytes of the file
   * @return the picture
   * @throws IOException when the bytes are no uncompressed 8-bit BMP file
   */
  public static NImage fromBMP(byte[] bmp) throws IOException {
    NImage image = new NImage();
    try {
      image.loadBMP(bmp);
    } catch (Exception e) {
      throw new IOException(e.getMessage(), e);
    }
    return image;
  }

  /**
   * Reads an 8-bit BMP file.
   *
   * @param file the file
   * @return the picture
   * @throws IOException when the file cannot be read or is no uncompressed 8-bit BMP file
   */
  public static NImage read(Path file) throws IOException {
    return fromBMP(Files.readAllBytes(file));
  }

  /**
   * Reads an 8-bit BMP file from {@code in} up to its end; the stream is not closed.
   *
   * @param in the stream
   * @return the picture
   * @throws IOException when the stream fails or holds no uncompressed 8-bit BMP file
   */
  public static NImage read(InputStream in) throws IOException {
    return fromBMP(in.readAllBytes());
  }

  /**
   * The picture as BMP bytes, with every failure of {@link #saveBMP} as an IOException.
   *
   * @return the bytes of an 8-bit BMP file
   * @throws IOException when the picture cannot be written as BMP
   */
  public byte[] toBMP() throws IOException {
    try {
      return saveBMP();
    } catch (RuntimeException e) {
      throw e;
    } catch (Exception e) {
      throw new IOException(e.getMessage(), e);
    }
  }

  /**
   * Writes the picture as an 8-bit BMP file, replacing {@code file}.
   *
   * @param file the file
   * @throws IOException when the picture cannot be written as BMP or the file cannot be written
   */
  public void write(Path file) throws IOException {
    Files.write(file, toBMP());
  }

  /**
   * Writes the picture as an 8-bit BMP file to {@code out}; the stream is not closed.
   *
   * @param out the stream
   * @throws IOException when the picture cannot be written as BMP or the stream fails
   */
  public void write(OutputStream out) throws IOException {
    out.write(toBMP());
  }

  /** {@return the pixels per row} */
  public int getWidth() {
    return width;
  }

  /** {@return the number of rows} */
  public int getHeight() {
    return height;
  }

  /** {@return a copy of the gray levels, top row first} */
  public byte[] getPixels() {
    return buffer == null ? null : buffer.clone();
  }

  /**
   * The gray level of one pixel.
   *
   * @param x the column, 0 at the left
   * @param y the row, 0 at the top
   * @return the gray level, 0 (black) to 255 (white)
   * @throws IndexOutOfBoundsException when the pixel lies outside the picture
   */
  public int getPixel(int x, int y) {
    if (x < 0 || x >= width || y < 0 || y >= height) {
      throw new IndexOutOfBoundsException(
          "(" + x + ", " + y + ") outside " + width + " x " + height);
    }
    return buffer[y * width + x] & 0xFF;
  }

  @Override
  public String toString() {
    return "NImage[" + width + " x " + height + "]";
  }
}
