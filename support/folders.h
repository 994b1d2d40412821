// The two folders where the library looks for its companion files: the host
// program's folder and the library's own.
#pragma once

#include "platform/env.h"
#include "platform/text.h"

namespace dactyra {

// The folder of the running program's executable, with its trailing
// delimiter. When the system cannot tell, the current folder (without a
// trailing delimiter). The system is asked through `env`.
platform::Text PastaExecutavel(platform::Env& env = platform::Env::Default());

// The folder of the module that holds the library, with its trailing
// delimiter; empty when the system cannot tell.
platform::Text PastaBiblioteca(platform::Env& env = platform::Env::Default());

// The folder followed by `nome`. A delimiter is put between them when the
// folder is not empty and lacks a trailing one.
platform::Text NaPastaExecutavel(platform::TextView nome,
                                 platform::Env& env = platform::Env::Default());
platform::Text NaPastaBiblioteca(platform::TextView nome,
                                 platform::Env& env = platform::Env::Default());

// The text rules of PastaBiblioteca, apart from asking the system: drops a
// long-path prefix (\\?\), turns \\?\UNC\server\share into \\server\share and
// keeps the folder part, up to and including the last of `delimiters`.
// Windows module names use "\\:" as delimiters, POSIX ones "/".
platform::Text FolderOfModuleName(platform::TextView module_name, platform::TextView delimiters);

// The folder part of `path`: up to and including the last of `delimiters`;
// empty when there is none.
platform::Text FolderPart(platform::TextView path, platform::TextView delimiters);

// The delimiters of a path on this platform (the path delimiter, and on
// Windows the drive delimiter).
platform::Text PathDelimiters();

}  // namespace dactyra
