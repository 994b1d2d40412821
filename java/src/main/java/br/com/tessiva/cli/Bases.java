package br.com.tessiva.cli;

import br.com.tessiva.base.FingerprintBase;
import br.com.tessiva.base.FingerprintBaseException;
import br.com.tessiva.images.NImage;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;

/** The fingerprint base and the pictures of the enroll, identify, verify and db commands. */
final class Bases {
  private Bases() {}

  /**
   * The base in {@code file}: made when missing if {@code create}, otherwise a missing file is a
   * failure rather than a new, empty base.
   */
  static FingerprintBase open(String command, String file, boolean create) throws CliException {
    Path path = Paths.get(file);
    if (!create && !Files.exists(path)) {
      throw CliException.failure(command + ": " + file + ": no such file");
    }
    try {
      return create ? new FingerprintBase(path) : FingerprintBase.openExisting(path);
    } catch (FingerprintBaseException e) {
      throw CliException.failure(command + ": " + Dactyra.oneLine(e.getMessage()));
    }
  }

  /** The value of --db, which every base command needs. */
  static String dbOption(String command, Args args) throws CliException {
    String db = args.get("--db", null);
    if (db == null || db.isEmpty()) throw CliException.usage(command + ": --db FILE is needed");
    return db;
  }

  /** The pictures named, read as gray images; a bad one fails the command. */
  static NImage[] images(List<String> names) throws CliException {
    NImage[] images = new NImage[names.size()];
    for (int i = 0; i < images.length; i++) images[i] = picture(Paths.get(names.get(i)));
    return images;
  }

  /** One picture with pixels. */
  static NImage picture(Path file) throws CliException {
    NImage image = GrayImages.read(file);
    if (image.width == 0 || image.height == 0) {
      throw CliException.failure(file + ": the picture has no pixels");
    }
    return image;
  }
}
