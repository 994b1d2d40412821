package br.com.tessiva.fingers;

/**
 * The finger (or group of fingers) an image was taken from, named and ordered as the finger
 * position codes of the fingerprint interchange standards (ANSI/NIST-ITL, ISO/IEC 19794): the
 * ordinal of each constant is its code, {@link #UNKNOWN} being 0. The extractor passes the ordinal
 * to the engine, which stores it in the template record.
 */
public enum NFPosition {
  UNKNOWN,
  RIGHT_THUMB,
  RIGHT_INDEX_FINGER,
  RIGHT_MIDDLE_FINGER,
  RIGHT_RING_FINGER,
  RIGHT_LITTLE_FINGER,
  LEFT_THUMB,
  LEFT_INDEX_FINGER,
  LEFT_MIDDLE_FINGER,
  LEFT_RING_FINGER,
  LEFT_LITTLE_FINGER,
  PLAIN_RIGHT_THUMB,
  PLAIN_LEFT_THUMB,
  PLAIN_RIGHT_FOUR_FINGERS,
  PLAIN_LEFT_FOUR_FINGERS,
  PLAIN_THUMBS;

  /** The standard's finger position code, which is the ordinal. */
  public int code() {
    return ordinal();
  }
}
