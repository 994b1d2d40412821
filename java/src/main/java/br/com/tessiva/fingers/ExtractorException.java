package br.com.tessiva.fingers;

/**
 * An extraction that could not be done: the engine could not be loaded, or it found no template in
 * the image.
 */
public class ExtractorException extends Exception {
  private static final long serialVersionUID = 1L;

  /**
   * An extraction that failed for the reason given.
   *
   * @param message what went wrong
   */
  public ExtractorException(String message) {
    super(message);
  }

  /**
   * An extraction that failed for the reason given, because of {@code cause}.
   *
   * @param message what went wrong
   * @param cause the failure beneath it
   */
  public ExtractorException(String message, Throwable cause) {
    super(message, cause);
  }
}
