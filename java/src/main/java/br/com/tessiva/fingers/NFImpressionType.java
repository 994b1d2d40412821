package br.com.tessiva.fingers;

/**
 * How the image was taken, named as the impression types of the fingerprint interchange standards
 * (ANSI/NIST-ITL, ISO/IEC 19794), with {@link #UNKNOWN} first. The extractor passes the ordinal to
 * the engine, which stores it in the template record; note that, because of {@code UNKNOWN}, the
 * ordinals are the standard's codes plus one.
 */
public enum NFImpressionType {
  /** How the image was taken is not known (ordinal 0). */
  UNKNOWN,
  /** A plain impression from a live scanner (ordinal 1). */
  LIVE_SCAN_PLAIN,
  /** A rolled impression from a live scanner (ordinal 2). */
  LIVE_SCAN_ROLLED,
  /** A plain impression scanned from paper (ordinal 3). */
  NONLIVE_SCAN_PLAIN,
  /** A rolled impression scanned from paper (ordinal 4). */
  NONLIVE_SCAN_ROLLED,
  /** A latent print taken as an impression (ordinal 5). */
  LATENT_IMPRESSION,
  /** A tracing of a latent print (ordinal 6). */
  LATENT_TRACING,
  /** A photograph of a latent print (ordinal 7). */
  LATENT_PHOTO,
  /** A latent print lifted from a surface (ordinal 8). */
  LATENT_LIFT,
  /** A swipe across a live scanner (ordinal 9). */
  LIVE_SCAN_SWIPE
}
