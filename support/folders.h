// The two folders where the library looks for its companion files: the host
// program's folder and the library's own.
#pragma once

#include "platform/text.h"

namespace dactyra {

using platform::Text;
using platform::TextView;

// The folder of the running program's executable, with its trailing
// delimiter. When the system cannot tell, the current folder (without a
// trailing delimiter).
Text PastaExecutavel();

// The folder of the module that holds the library, with its trailing
// delimiter; empty when the system cannot tell.
Text PastaBiblioteca();

// The folder followed by `nome`. A delimiter is put between them when the
// folder is not empty and lacks a trailing one.
Text NaPastaExecutavel(TextView nome);
Text NaPastaBiblioteca(TextView nome);

// The text rules of PastaBiblioteca, apart from asking the system: drops a
// long-path prefix (\\?\), turns \\?\UNC\server\share into \\server\share and
// keeps the folder part, up to and including the last of `delimiters`.
// Windows module names use "\\:" as delimiters, POSIX ones "/".
Text FolderOfModuleName(TextView module_name, TextView delimiters);

// The folder part of `path`: up to and including the last of `delimiters`;
// empty when there is none.
Text FolderPart(TextView path, TextView delimiters);

// The delimiters of a path on this platform (the path delimiter, and on
// Windows the drive delimiter).
Text PathDelimiters();

}  // namespace dactyra
