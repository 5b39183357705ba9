#include "ClienteCrudo.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace clocksim::test {

ClienteCrudo::ClienteCrudo(const std::string& ip, uint16_t puerto, bool udp) : udp_(udp) {
  fd_ = socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket");
  sockaddr_in dir{};
  dir.sin_family = AF_INET;
  dir.sin_port = htons(puerto);
  inet_pton(AF_INET, ip.c_str(), &dir.sin_addr);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&dir), sizeof dir) < 0) {
    std::string error = std::strerror(errno);
    close(fd_);
    fd_ = -1;
    throw std::runtime_error("connect " + ip + ":" + std::to_string(puerto) + ": " + error);
  }
}

ClienteCrudo::~ClienteCrudo() {
  if (fd_ >= 0) close(fd_);
}

void ClienteCrudo::Envia(uint16_t comando, const zk::Bytes& datos) {
  if (!primero_) idRespuesta = zk::SiguienteIdRespuesta(idRespuesta);
  primero_ = false;
  if (comando == zk::CMD_CONNECT) sesion = 0;
  EnviaCrudo(udp_ ? zk::ArmaPayload(comando, sesion, idRespuesta, datos)
                  : zk::ArmaTramaTcp(comando, sesion, idRespuesta, datos));
}

void ClienteCrudo::EnviaCrudo(const zk::Bytes& bytes) {
  size_t hecho = 0;
  while (hecho < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + hecho, bytes.size() - hecho, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("send");
    hecho += static_cast<size_t>(n);
  }
}

bool ClienteCrudo::Lee(std::chrono::milliseconds limite) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(limite.count())) <= 0) return false;
  uint8_t b[65536];
  ssize_t n = recv(fd_, b, sizeof b, 0);
  if (n <= 0) return false;
  if (udp_) {
    pendienteUdp_ = zk::LeePayload(b, static_cast<size_t>(n), false);
    if (pendienteUdp_ && !zk::ChecksumValido(b, static_cast<size_t>(n))) checksumsValidos = false;
    return pendienteUdp_.has_value();
  }
  buffer_.insert(buffer_.end(), b, b + n);
  return true;
}

std::optional<zk::Paquete> ClienteCrudo::Recibe(std::chrono::milliseconds limite) {
  auto fin = std::chrono::steady_clock::now() + limite;
  for (;;) {
    if (udp_ && pendienteUdp_) {
      auto p = std::move(pendienteUdp_);
      pendienteUdp_.reset();
      return p;
    }
    if (!udp_) {
      uint32_t largo = 0;
      switch (zk::ExaminaTramaTcp(buffer_.data(), buffer_.size(), largo)) {
        case zk::EstadoTrama::kInvalida:
          return std::nullopt;
        case zk::EstadoTrama::kCompleta: {
          const uint8_t* payload = buffer_.data() + zk::kTamPrefijoTcp;
          if (!zk::ChecksumValido(payload, largo)) checksumsValidos = false;
          auto p = zk::LeePayload(payload, largo, false);
          buffer_.erase(buffer_.begin(), buffer_.begin() + zk::kTamPrefijoTcp + largo);
          return p;
        }
        case zk::EstadoTrama::kIncompleta:
          break;
      }
    }
    auto falta = std::chrono::duration_cast<std::chrono::milliseconds>(
        fin - std::chrono::steady_clock::now());
    if (falta.count() <= 0 || !Lee(falta)) return std::nullopt;
  }
}

zk::Paquete ClienteCrudo::Pide(uint16_t comando, const zk::Bytes& datos) {
  Envia(comando, datos);
  auto p = Recibe(espera);
  if (!p) throw std::runtime_error("sin respuesta a " + std::to_string(comando));
  return *p;
}

bool ClienteCrudo::Conecta(uint32_t clave) {
  auto r = Pide(zk::CMD_CONNECT);
  sesion = r.sesion;
  if (r.comando == zk::CMD_ACK_UNAUTH) {
    auto datos = zk::ClaveComm(clave, sesion);
    r = Pide(zk::CMD_AUTH, zk::Bytes(datos.begin(), datos.end()));
  }
  return r.comando == zk::CMD_ACK_OK;
}

zk::Bytes ClienteCrudo::LeeMasivo(const zk::PeticionMasiva& pedido, uint32_t trozo) {
  auto r = Pide(zk::CMD_DATA_WRRQ, zk::CodificaPeticionMasiva(pedido));
  if (r.comando == zk::CMD_DATA) return r.datos;
  if (r.comando != zk::CMD_ACK_OK) throw std::runtime_error("1503 rechazado");
  auto total = zk::DecodificaAnuncioMasivo(r.datos.data(), r.datos.size());
  if (!total) throw std::runtime_error("anuncio inválido");
  zk::Bytes todo;
  while (todo.size() < *total) {
    uint32_t tam = std::min<uint32_t>(trozo, *total - static_cast<uint32_t>(todo.size()));
    Envia(zk::CMD_DATA_RDY, zk::CodificaPeticionTrozo(static_cast<uint32_t>(todo.size()), tam));
    auto prep = Recibe(espera);
    if (!prep || prep->comando != zk::CMD_PREPARE_DATA || prep->datos.size() != 8) {
      throw std::runtime_error("se esperaba PREPARE_DATA de 8 bytes");
    }
    size_t recibido = 0;
    for (;;) {
      auto q = Recibe(espera);
      if (!q) throw std::runtime_error("trozo incompleto");
      if (q->comando == zk::CMD_ACK_OK) break;
      if (q->comando != zk::CMD_DATA) throw std::runtime_error("paquete inesperado");
      todo.insert(todo.end(), q->datos.begin(), q->datos.end());
      recibido += q->datos.size();
    }
    if (recibido != tam) throw std::runtime_error("trozo de otro tamaño");
  }
  if (Pide(zk::CMD_FREE_DATA).comando != zk::CMD_ACK_OK) throw std::runtime_error("FREE_DATA");
  return todo;
}

std::string ClienteCrudo::RestoCrudo(std::chrono::milliseconds limite) {
  std::string resto(buffer_.begin(), buffer_.end());
  buffer_.clear();
  auto fin = std::chrono::steady_clock::now() + limite;
  for (;;) {
    auto falta = std::chrono::duration_cast<std::chrono::milliseconds>(
        fin - std::chrono::steady_clock::now());
    pollfd p{fd_, POLLIN, 0};
    if (falta.count() <= 0 || poll(&p, 1, static_cast<int>(falta.count())) <= 0) return resto;
    char b[65536];
    ssize_t n = recv(fd_, b, sizeof b, 0);
    if (n <= 0) return resto;
    resto.append(b, static_cast<size_t>(n));
  }
}

bool ClienteCrudo::Cierra(std::chrono::milliseconds limite) {
  auto fin = std::chrono::steady_clock::now() + limite;
  for (;;) {
    auto falta = std::chrono::duration_cast<std::chrono::milliseconds>(
        fin - std::chrono::steady_clock::now());
    pollfd p{fd_, POLLIN, 0};
    if (falta.count() <= 0 || poll(&p, 1, static_cast<int>(falta.count())) <= 0) return false;
    char b[4096];
    ssize_t n = recv(fd_, b, sizeof b, 0);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
    if (n < 0) return false;
  }
}

}  // namespace clocksim::test
