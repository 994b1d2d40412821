package br.com.tessiva.templates;

/**
 * A feature read from a template record: its position in the image. Items are filled by the
 * native library from the record bytes; their fields carry the names it sets.
 */
public abstract class NFItem {
  // Set by the native library. -1 until filled: a record that announces more items than it holds
  // leaves the rest unfilled.
  int X = -1;
  int Y = -1;

  NFItem() {}

  /** {@return the horizontal position, 0 to 2047} */
  public int getX() {
    return X;
  }

  /** {@return the vertical position, 0 to 2047} */
  public int getY() {
    return Y;
  }

  boolean isFilled() {
    return X >= 0;
  }
}
