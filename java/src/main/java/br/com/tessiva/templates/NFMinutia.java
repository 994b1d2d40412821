package br.com.tessiva.templates;

import java.util.Objects;

/** A minutia: position, type, angle and the optional quality, curvature and G values. */
public final class NFMinutia extends NFItem {
  /** The value of {@link #getQuality}, {@link #getCurvature} or {@link #getG} when absent. */
  public static final int ABSENT = 255;

  int Angle;
  int Quality = ABSENT;
  int Curvature = ABSENT;
  int G = ABSENT;
  private int type;

  NFMinutia() {}

  // Called by the native library with the record's 2-bit type.
  void setType(int type) {
    this.type = type;
  }

  /** {@return the minutia type as the record codes it, 0 to 3} */
  public int getType() {
    return type;
  }

  /** {@return the angle as the record codes it, 0 to 255} */
  public int getAngle() {
    return Angle;
  }

  /** {@return the quality byte, or {@link #ABSENT} when the record carries none} */
  public int getQuality() {
    return Quality;
  }

  /** {@return the curvature byte, or {@link #ABSENT} when the record carries none} */
  public int getCurvature() {
    return Curvature;
  }

  /** {@return the G byte, or {@link #ABSENT} when the record carries none} */
  public int getG() {
    return G;
  }

  @Override
  public boolean equals(Object o) {
    if (!(o instanceof NFMinutia)) return false;
    NFMinutia m = (NFMinutia) o;
    return X == m.X && Y == m.Y && type == m.type && Angle == m.Angle && Quality == m.Quality
        && Curvature == m.Curvature && G == m.G;
  }

  @Override
  public int hashCode() {
    return Objects.hash(X, Y, type, Angle, Quality, Curvature, G);
  }

  @Override
  public String toString() {
    return "NFMinutia[x=" + X + ", y=" + Y + ", type=" + type + ", angle=" + Angle + ", quality="
        + Quality + ", curvature=" + Curvature + ", g=" + G + "]";
  }
}
