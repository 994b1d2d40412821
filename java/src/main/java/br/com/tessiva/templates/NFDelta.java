package br.com.tessiva.templates;

import java.util.Objects;

/** A delta: position and its three angles. */
public final class NFDelta extends NFItem {
  int Angle1;
  int Angle2;
  int Angle3;

  NFDelta() {}

  /** {@return the angle of the delta's first arm as the record codes it, 0 to 255} */
  public int getAngle1() {
    return Angle1;
  }

  /** {@return the angle of the delta's second arm as the record codes it, 0 to 255} */
  public int getAngle2() {
    return Angle2;
  }

  /** {@return the angle of the delta's third arm as the record codes it, 0 to 255} */
  public int getAngle3() {
    return Angle3;
  }

  @Override
  public boolean equals(Object o) {
    if (!(o instanceof NFDelta)) return false;
    NFDelta d = (NFDelta) o;
    return X == d.X && Y == d.Y && Angle1 == d.Angle1 && Angle2 == d.Angle2 && Angle3 == d.Angle3;
  }

  @Override
  public int hashCode() {
    return Objects.hash(X, Y, Angle1, Angle2, Angle3);
  }

  @Override
  public String toString() {
    return "NFDelta[x=" + X + ", y=" + Y + ", angles=" + Angle1 + "/" + Angle2 + "/" + Angle3
        + "]";
  }
}
