#pragma once
// The session with the service: the login and its repetition with the credentials in memory.
#include <string>

#include "support/Lector.h"

namespace lector::server {

// The reader's fixed identification, sent with every login.
constexpr const char* kNit = "3f9c07b2e1";
constexpr const char* kSerialLector = "a83c209hk5617";
constexpr const char* kDispositivo = "lector.exe";
constexpr int kVersionMayor = 2, kVersionMenor = 2, kVersionRevision = 3;

// Asks for a session identifier and presents the credentials; true when the service accepted
// them (IdSesion then holds the session). A refusal that names the user or the password is shown
// in a message box.
bool ServerLogin(Lector& l, const std::string& usuario, const std::string& clave,
                 const std::string& idEquipo);
// Logs in again with Usuario, Clave and IdEquipo; the new SesionAbierta. The service's base URL
// is taken from Lector.ini (section "SERVIDOR", key "URL") first when the file names one.
bool Reingresa(Lector& l);

// Whether a login answer is a refusal (the classification of the answer alone).
bool LoginRechazado(const std::string& respuesta, const std::string& clave);
// Number of characters of an UTF-8 text (bytes that do not start a character are not counted).
size_t Caracteres(const std::string& texto);
// Lower case for ASCII and the Latin-1 letters (UTF-8), the rest unchanged.
std::string Minusculas(const std::string& texto);

}  // namespace lector::server
