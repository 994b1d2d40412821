package br.com.tessiva.fingers;

/**
 * How the image was taken, named as the impression types of the fingerprint interchange standards
 * (ANSI/NIST-ITL, ISO/IEC 19794), with {@link #UNKNOWN} first. The extractor passes the ordinal to
 * the engine, which stores it in the template record; note that, because of {@code UNKNOWN}, the
 * ordinals are the standard's codes plus one.
 */
public enum NFImpressionType {
  UNKNOWN,
  LIVE_SCAN_PLAIN,
  LIVE_SCAN_ROLLED,
  NONLIVE_SCAN_PLAIN,
  NONLIVE_SCAN_ROLLED,
  LATENT_IMPRESSION,
  LATENT_TRACING,
  LATENT_PHOTO,
  LATENT_LIFT,
  LIVE_SCAN_SWIPE
}
