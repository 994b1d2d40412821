package br.com.tessiva.base;

/**
 * A failure of a fingerprint base: a file that is not a fingerprint base or is of a newer format,
 * images that give no usable template or do not agree, a base that is closed.
 */
public class FingerprintBaseException extends Exception {
  private static final long serialVersionUID = 1L;

  /**
   * The native library raises it with the failure's message.
   *
   * @param message what failed, in English
   */
  public FingerprintBaseException(String message) {
    super(message);
  }
}
