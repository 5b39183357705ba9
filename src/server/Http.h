#pragma once
// HTTP transport: one blocking request per call, a fresh libcurl handle each time, nothing kept
// between requests (no cookies, no connection reuse). Failures come back as marker texts after a
// log line; the callers classify the bodies themselves, whatever the HTTP status.
#include <filesystem>
#include <string>

#include "support/Lector.h"

namespace lector::server {

// Boundary of the month-file upload body.
constexpr const char* kFrontera = "Xu02=$";
// Failure passed up by HttpUploadFile when no response at all could be read.
constexpr int kFallaSubida = 1900;

// The response body, or "Error" after a log line "Error en conexión con el servidor: ...".
std::string HttpGet(Lector& l, const std::string& url);
// Posts the body (already key=value&key=value) as a form.
std::string HttpPostForm(Lector& l, const std::string& url, const std::string& cuerpo);
// Posts folder/fileName as the multipart part "file"; url gets "?slots=" + fileName + "&" +
// extraQuery appended. The response body, or "0" after a log line; when not even a partial
// response can be read the failure is thrown (Falla kFallaSubida, or the file's own failure).
std::string HttpUploadFile(Lector& l, const std::string& nombreArchivo, std::string& url,
                           const std::filesystem::path& carpeta, const std::string& extraQuery,
                           const std::string& usuario, const std::string& clave);
// The multipart body HttpUploadFile sends for that file name and content.
std::string CuerpoMultipart(const std::string& nombreArchivo, const std::string& contenido);
// The file's bytes as they are on disk; a missing file is created empty. Throws 75 when the
// file cannot be opened or read.
std::string ReadWholeFile(const std::filesystem::path& ruta);

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~ (upper-case hex), for values put into
// URLs and form bodies.
std::string CodificaValor(const std::string& valor);
// The host name of an URL ("http://user@host:8080/x" gives "host"), "" when there is none.
std::string HostDeUrl(const std::string& url);

}  // namespace lector::server
