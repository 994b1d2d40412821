package br.com.tessiva.templates;

import java.util.Objects;

/** A double core: its position. */
public final class NFDoubleCore extends NFItem {
  NFDoubleCore() {}

  @Override
  public boolean equals(Object o) {
    return o instanceof NFDoubleCore && X == ((NFDoubleCore) o).X && Y == ((NFDoubleCore) o).Y;
  }

  @Override
  public int hashCode() {
    return Objects.hash(X, Y);
  }

  @Override
  public String toString() {
    return "NFDoubleCore[x=" + X + ", y=" + Y + "]";
  }
}
