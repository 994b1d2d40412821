#include "support/folders.h"

#include "platform/files.h"

namespace dactyra {

using platform::Text;
using platform::TextView;

namespace {

// Any address inside this library serves to find the module that holds it.
const char kInsideTheLibrary = 0;

bool EndsWithDelimiter(TextView folder) {
  return !folder.empty() && PathDelimiters().find(folder.back()) != Text::npos;
}

Text Joined(Text folder, TextView nome) {
  // A folder without trailing delimiter (PastaExecutavel's fallback) would
  // otherwise run into the name.
  if (!folder.empty() && !EndsWithDelimiter(folder)) folder += platform::PathDelimiter();
  folder += nome;
  return folder;
}

}  // namespace

Text PathDelimiters() {
  Text delimiters(1, platform::PathDelimiter());
  if (platform::PathDelimiter() == u'\\') delimiters += u':';
  return delimiters;
}

Text FolderPart(TextView path, TextView delimiters) {
  const auto last = path.find_last_of(delimiters);
  if (last == TextView::npos) return Text();
  return Text(path.substr(0, last + 1));
}

Text FolderOfModuleName(TextView name, TextView delimiters) {
  constexpr TextView kLongPathPrefix = u"\\\\?\\";
  constexpr TextView kUnc = u"UNC\\";
  Text rest(name);
  if (rest.starts_with(kLongPathPrefix)) rest.erase(0, kLongPathPrefix.size());
  // UNC\server\share... becomes \\server\share...: the letters go, one more
  // backslash joins the one that followed them.
  if (rest.starts_with(kUnc)) rest.replace(0, 3, u"\\");
  return FolderPart(rest, delimiters);
}

Text PastaExecutavel(platform::Env& env) {
  const Text folder = FolderPart(env.ExecutablePath(), PathDelimiters());
  if (folder.empty()) return platform::FullPath(env.CurrentFolder());
  return platform::FullPath(folder);
}

Text PastaBiblioteca(platform::Env& env) {
  // The whole name is taken, however long: a name cut short would give the
  // wrong folder.
  return FolderOfModuleName(env.ModuleFileNameOf(&kInsideTheLibrary), PathDelimiters());
}

Text NaPastaExecutavel(TextView nome, platform::Env& env) {
  return Joined(PastaExecutavel(env), nome);
}

Text NaPastaBiblioteca(TextView nome, platform::Env& env) {
  return Joined(PastaBiblioteca(env), nome);
}

}  // namespace dactyra
