package br.com.tessiva.templates;

import java.util.Objects;

/** A core: position and angle. */
public final class NFCore extends NFItem {
  int Angle;

  NFCore() {}

  /** {@return the angle as the record codes it, 0 to 255} */
  public int getAngle() {
    return Angle;
  }

  @Override
  public boolean equals(Object o) {
    return o instanceof NFCore && X == ((NFCore) o).X && Y == ((NFCore) o).Y
        && Angle == ((NFCore) o).Angle;
  }

  @Override
  public int hashCode() {
    return Objects.hash(X, Y, Angle);
  }

  @Override
  public String toString() {
    return "NFCore[x=" + X + ", y=" + Y + ", angle=" + Angle + "]";
  }
}
