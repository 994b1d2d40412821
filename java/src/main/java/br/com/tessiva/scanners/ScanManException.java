package br.com.tessiva.scanners;

/** A failure of the scanner family: a reader that cannot be reached, started or stopped. */
public class ScanManException extends Exception {
  private static final long serialVersionUID = 1L;

  /**
   * The native library raises it with the failure's message.
   *
   * @param message the failure, in the library's words
   */
  public ScanManException(String message) {
    super(message);
  }
}
