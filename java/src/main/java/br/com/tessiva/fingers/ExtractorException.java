package br.com.tessiva.fingers;

/**
 * An extraction that could not be done: the engine could not be loaded, or it found no template in
 * the image.
 */
public class ExtractorException extends Exception {
  private static final long serialVersionUID = 1L;

  public ExtractorException(String message) {
    super(message);
  }

  public ExtractorException(String message, Throwable cause) {
    super(message, cause);
  }
}
