package br.com.tessiva.fingers;

/**
 * The finger (or group of fingers) an image was taken from, named and ordered as the finger
 * position codes of the fingerprint interchange standards (ANSI/NIST-ITL, ISO/IEC 19794): the
 * ordinal of each constant is its code, {@link #UNKNOWN} being 0. The extractor passes the ordinal
 * to the engine, which stores it in the template record.
 */
public enum NFPosition {
  /** The position is not known (code 0). */
  UNKNOWN,
  /** The right thumb, rolled or alone (code 1). */
  RIGHT_THUMB,
  /** The right index finger (code 2). */
  RIGHT_INDEX_FINGER,
  /** The right middle finger (code 3). */
  RIGHT_MIDDLE_FINGER,
  /** The right ring finger (code 4). */
  RIGHT_RING_FINGER,
  /** The right little finger (code 5). */
  RIGHT_LITTLE_FINGER,
  /** The left thumb, rolled or alone (code 6). */
  LEFT_THUMB,
  /** The left index finger (code 7). */
  LEFT_INDEX_FINGER,
  /** The left middle finger (code 8). */
  LEFT_MIDDLE_FINGER,
  /** The left ring finger (code 9). */
  LEFT_RING_FINGER,
  /** The left little finger (code 10). */
  LEFT_LITTLE_FINGER,
  /** The right thumb, a plain impression (code 11). */
  PLAIN_RIGHT_THUMB,
  /** The left thumb, a plain impression (code 12). */
  PLAIN_LEFT_THUMB,
  /** The four fingers of the right hand, taken together (code 13). */
  PLAIN_RIGHT_FOUR_FINGERS,
  /** The four fingers of the left hand, taken together (code 14). */
  PLAIN_LEFT_FOUR_FINGERS,
  /** Both thumbs, taken together (code 15). */
  PLAIN_THUMBS;

  /**
   * The standard's finger position code, which is the ordinal.
   *
   * @return the code, 0 to 15
   */
  public int code() {
    return ordinal();
  }
}
