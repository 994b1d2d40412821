package br.com.tessiva.scanners;

/** The kinds of {@link Scanner.ScanEvent}. */
public enum ScanEventKind {
  /** A reader captured an image; the event carries it. */
  ImageScanned
}
