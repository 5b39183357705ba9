#pragma once
// Files of the program folder: opened without following a final symbolic link, created readable
// by the owner only. A link planted in the folder would otherwise make the program append to,
// upload, truncate or re-permission a file elsewhere.
#include <sys/types.h>

#include <filesystem>
#include <string>

#include "support/Lector.h"

namespace lector {

// open(2) with O_NOFOLLOW and O_CLOEXEC added; -1 with errno set (ELOOP for a link).
int AbreSinEnlace(const std::filesystem::path& ruta, int banderas, mode_t modo = 0600);
// The whole content of a regular file opened without following a link; `crea` makes a missing
// file empty first. False with errno set when it cannot be opened, is not a file or fails.
bool LeeArchivo(const std::filesystem::path& ruta, std::string& contenido, bool crea = false);
// Writes the whole file (0600) through a fresh temporary one beside it, synced and renamed over
// it, so that a crash leaves either the old or the new content, never half. Whatever already sits
// at a name is never opened, truncated or re-permissioned. False with errno set on a failure.
bool EscribeArchivo(const std::filesystem::path& ruta, const std::string& contenido);
// At start: files made from now on are the owner's only (umask 077), and a Lector.ini that
// others can read, holding a password, is made 0600 with a line in the activity list.
void ProtegeCarpeta(Lector& l);

}  // namespace lector
