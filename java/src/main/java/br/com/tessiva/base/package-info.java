/**
 * Fingerprint bases: {@link br.com.tessiva.base.FingerprintBase} enrolls people's fingers from
 * images into one file and identifies or verifies images against them.
 */
package br.com.tessiva.base;
