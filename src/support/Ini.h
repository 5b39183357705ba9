#pragma once
// The settings file Lector.ini: a small INI layer with profile-function semantics, the
// scrambling of values, and loading/saving the four login settings.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Lector.h"

namespace lector {

// Value of the key (section and key names case-insensitive) exactly as written, at most 999
// characters, or the default when the file, section or key is missing. Texts are UTF-8 in
// memory and Windows-1252 in the file.
std::string LeeIni(const std::filesystem::path& archivo, const std::string& seccion,
                   const std::string& clave, const std::string& porDefecto);
// Writes the key, keeping every other section and key; CR and LF in the value become blanks.
// The file is created readable and writable by its owner only. Returns false when it could not
// be written.
bool GrabaIni(const std::filesystem::path& archivo, const std::string& seccion,
              const std::string& clave, const std::string& valor);

std::string Codifica(const std::string& texto);
std::string Decodifica(const std::string& texto);
std::string DecodificaHex(const std::string& texto);
int16_t ValorHex(const std::string& par);

void CargaConfig(Lector& l);
// The same from a given file into a given state (the login window's boxes).
void CargaConfig(const std::filesystem::path& archivo, Estado& e);
// Saves the settings; the keys whose text cannot be scrambled are left as they were and their
// names ("USER", "PASS") come back so the login window can tell the user.
std::vector<std::string> GuardaConfig(Lector& l);

// Communication keys of the clocks that have one: section "RELOJES", key the clock's serial,
// value scrambled like the password. 0 (no key) when missing or unreadable.
constexpr const char* kSeccionClaves = "RELOJES";
constexpr int32_t kClaveComunicacionMaxima = 999999;
int32_t ClaveComunicacion(const Lector& l, const std::string& serial);
// Stores a key typed as decimal text; "" on success, else the reason in words.
std::string GuardaClaveComunicacion(const Lector& l, const std::string& serial,
                                    const std::string& clave);

// The service's base URL: section "SERVIDOR", key "URL" (plain text), else the default.
std::string LeeUrlBase(const Lector& l);

}  // namespace lector
