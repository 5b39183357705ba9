#include "clock-sim/Sesion.h"

#include "clock-sim/Perfil.h"

#include <algorithm>
#include <map>

namespace clocksim {

namespace {

Respuesta Simple(uint16_t codigo, std::string detalle = {}) {
  Respuesta r;
  r.paquetes.push_back({codigo, {}, false});
  r.detalle = std::move(detalle);
  return r;
}

Respuesta ConDatos(uint16_t codigo, zk::Bytes datos, std::string detalle = {}) {
  Respuesta r;
  r.paquetes.push_back({codigo, std::move(datos), false});
  r.detalle = std::move(detalle);
  return r;
}

Respuesta Ok(std::string detalle = {}) {
  return Simple(zk::CMD_ACK_OK, std::move(detalle));
}

Respuesta Error(std::string detalle) {
  return Simple(zk::CMD_ACK_ERROR, std::move(detalle));
}

// PREPARE_DATA(size), DATA(bytes), ACK_OK: a single template, a face, a chunk.
Respuesta Transferencia(const uint8_t* p, size_t n, std::string detalle) {
  Respuesta r;
  r.paquetes.push_back(
      {zk::CMD_PREPARE_DATA, zk::CodificaPreparacion(static_cast<uint32_t>(n)), true});
  r.paquetes.push_back({zk::CMD_DATA, zk::Bytes(p, p + n), true});
  r.paquetes.push_back({zk::CMD_ACK_OK, {}, false});
  r.detalle = std::move(detalle);
  return r;
}

}  // namespace

std::string NombreCodigo(uint16_t codigo) {
  static const std::map<uint16_t, const char*> nombres = {
      {zk::CMD_DB_RRQ, "CMD_DB_RRQ"},
      {zk::CMD_USER_WRQ, "CMD_USER_WRQ"},
      {zk::CMD_USERTEMP_RRQ, "CMD_USERTEMP_RRQ"},
      {zk::CMD_USERTEMP_WRQ, "CMD_USERTEMP_WRQ"},
      {zk::CMD_OPTIONS_RRQ, "CMD_OPTIONS_RRQ"},
      {zk::CMD_OPTIONS_WRQ, "CMD_OPTIONS_WRQ"},
      {zk::CMD_ATTLOG_RRQ, "CMD_ATTLOG_RRQ"},
      {zk::CMD_CLEAR_DATA, "CMD_CLEAR_DATA"},
      {zk::CMD_CLEAR_ATTLOG, "CMD_CLEAR_ATTLOG"},
      {zk::CMD_DELETE_USER, "CMD_DELETE_USER"},
      {zk::CMD_DELETE_USERTEMP, "CMD_DELETE_USERTEMP"},
      {zk::CMD_CLEAR_ADMIN, "CMD_CLEAR_ADMIN"},
      {zk::CMD_CLEAR_OPLOG, "CMD_CLEAR_OPLOG"},
      {zk::CMD_OPLOG_RRQ, "CMD_OPLOG_RRQ"},
      {zk::CMD_GET_FREE_SIZES, "CMD_GET_FREE_SIZES"},
      {zk::CMD_STATE_RRQ, "CMD_STATE_RRQ"},
      {69, "CMD_GET_PINWIDTH"},
      {zk::CMD_TMP_WRITE, "CMD_TMP_WRITE"},
      {zk::CMD_GET_USERTEMP, "CMD_GET_USERTEMP"},
      {zk::CMD_CHECKSUM_BUFFER, "CMD_CHECKSUM_BUFFER"},
      {zk::CMD_DEL_FPTMP, "CMD_DEL_FPTMP"},
      {zk::CMD_GET_TIME, "CMD_GET_TIME"},
      {zk::CMD_SET_TIME, "CMD_SET_TIME"},
      {zk::CMD_REG_EVENT, "CMD_REG_EVENT"},
      {zk::CMD_CONNECT, "CMD_CONNECT"},
      {zk::CMD_EXIT, "CMD_EXIT"},
      {zk::CMD_ENABLEDEVICE, "CMD_ENABLEDEVICE"},
      {zk::CMD_DISABLEDEVICE, "CMD_DISABLEDEVICE"},
      {zk::CMD_RESTART, "CMD_RESTART"},
      {zk::CMD_POWEROFF, "CMD_POWEROFF"},
      {zk::CMD_REFRESHDATA, "CMD_REFRESHDATA"},
      {zk::CMD_REFRESHOPTION, "CMD_REFRESHOPTION"},
      {zk::CMD_TESTVOICE, "CMD_TESTVOICE"},
      {zk::CMD_GET_VERSION, "CMD_GET_VERSION"},
      {zk::CMD_AUTH, "CMD_AUTH"},
      {zk::CMD_PREPARE_DATA, "CMD_PREPARE_DATA"},
      {zk::CMD_DATA, "CMD_DATA"},
      {zk::CMD_FREE_DATA, "CMD_FREE_DATA"},
      {zk::CMD_DATA_WRRQ, "CMD_DATA_WRRQ"},
      {zk::CMD_DATA_RDY, "CMD_DATA_RDY"},
      {zk::CMD_FACE_RRQ, "CMD_FACE_RRQ"},
      {zk::CMD_FACE_WRQ, "CMD_FACE_WRQ"},
      {zk::CMD_ACK_OK, "CMD_ACK_OK"},
      {zk::CMD_ACK_ERROR, "CMD_ACK_ERROR"},
      {zk::CMD_ACK_DATA, "CMD_ACK_DATA"},
      {zk::CMD_ACK_UNAUTH, "CMD_ACK_UNAUTH"},
      {zk::CMD_ACK_UNKNOWN, "CMD_ACK_UNKNOWN"},
  };
  auto it = nombres.find(codigo);
  return it != nombres.end() ? it->second : std::to_string(codigo);
}

Respuesta Sesion::Atiende(EstadoReloj& e, const zk::Paquete& p) {
  Respuesta r = Responde(e, p);
  // What an earlier answer held back goes out first, with that answer's ids.
  std::vector<Salida> salida = std::move(diferidos_);
  diferidos_.clear();
  for (auto& s : r.paquetes) {
    if (!s.diferir) {
      salida.push_back(std::move(s));
      continue;
    }
    s.diferir = false;
    s.idRespuesta = p.idRespuesta;
    if (s.sesion < 0) s.sesion = IdPara(p);
    diferidos_.push_back(std::move(s));
  }
  r.paquetes = std::move(salida);
  return r;
}

Respuesta Sesion::Responde(EstadoReloj& e, const zk::Paquete& p) {
  const uint8_t* d = p.datos.data();
  const size_t n = p.datos.size();
  const Perfil* perfil = BuscaPerfil(e.perfil);
  switch (p.comando) {
    case zk::CMD_CONNECT:
      if (perfil && perfil->cifrado) return Simple(zk::CMD_ACK_SESION_CIFRADA, "sesión cifrada");
      // A second connect on the same connection keeps the session.
      conectada_ = true;
      if (e.claveComm != 0 && !autenticada_) return Simple(zk::CMD_ACK_UNAUTH, "clave requerida");
      autenticada_ = true;
      return Ok();
    case zk::CMD_AUTH:
      if (!conectada_) return Simple(zk::CMD_ACK_UNAUTH, "sin CMD_CONNECT");
      if (e.claveComm == 0 || zk::VerificaClaveComm(d, n, e.claveComm, id_)) {
        autenticada_ = true;
        return Ok("clave correcta");
      }
      return Simple(zk::CMD_ACK_UNAUTH, "clave incorrecta");
    case zk::CMD_EXIT: {
      Respuesta r = Ok();
      r.cerrar = true;
      conectada_ = autenticada_ = false;
      return r;
    }
    default:
      break;
  }
  if (!conectada_) return Simple(zk::CMD_ACK_UNAUTH, "sin CMD_CONNECT");
  if (!autenticada_) return Simple(zk::CMD_ACK_UNAUTH, "sin CMD_AUTH");
  if (perfil && perfil->caras150 &&
      (p.comando == zk::CMD_FACE_RRQ || p.comando == zk::CMD_FACE_WRQ))
    return Simple(zk::CMD_ACK_UNKNOWN);
  if (perfil && perfil->caras150 && p.comando == zk::CMD_FACE_RRQ_DEVICE) return Cara150(e, d, n);
  Respuesta r = Comando(e, p);
  if (perfil && perfil->sigueMarcando && p.comando == zk::CMD_GET_FREE_SIZES) {
    // Disabled or not, someone punches once the count is out (a minute apart each time).
    e.Marca(e.usuarios.empty() ? "1" : e.usuarios.front().id, 0, 1,
            e.Hora() + 60 * static_cast<int64_t>(e.marcaciones.size()));
  }
  return r;
}

Respuesta Sesion::Comando(EstadoReloj& e, const zk::Paquete& p) {
  const uint8_t* d = p.datos.data();
  const size_t n = p.datos.size();
  e.VenceBloqueo();
  switch (p.comando) {
    case zk::CMD_ENABLEDEVICE:
      e.habilitado = true;
      return Ok();
    case zk::CMD_DISABLEDEVICE:
      e.habilitado = false;
      e.habilitaEn.reset();
      if (n >= 4 && zk::LeeU32(d) > 0)
        e.habilitaEn = std::chrono::steady_clock::now() + std::chrono::seconds(zk::LeeU32(d));
      return Ok();
    case zk::CMD_RESTART: {
      // The device goes away: the answer is the last thing the client gets.
      ++e.reinicios;
      e.habilitado = true;
      Respuesta r = Ok("reinicio");
      r.cerrar = true;
      conectada_ = autenticada_ = false;
      return r;
    }
    case zk::CMD_POWEROFF:
    case zk::CMD_REFRESHOPTION:
    case zk::CMD_CLEAR_OPLOG:
    case zk::CMD_REG_EVENT:
    case zk::CMD_STATE_RRQ:
      return Ok();
    case zk::CMD_REFRESHDATA:
      ++e.refrescos;
      return Ok();
    case zk::CMD_TESTVOICE: {
      uint32_t indice = n >= 4 ? zk::LeeU32(d) : n >= 2 ? zk::LeeU16(d) : 0;
      e.voces.push_back(indice);
      return Ok("voz " + std::to_string(indice));
    }
    case zk::CMD_GET_VERSION: {
      zk::Bytes b(e.firmware.begin(), e.firmware.end());
      b.push_back(0);
      return ConDatos(zk::CMD_ACK_OK, std::move(b), e.firmware);
    }
    case zk::CMD_OPTIONS_RRQ: {
      std::string nombre = zk::DecodificaNombreOpcion(d, n);
      auto valor = e.Opcion(nombre);
      if (!valor) return Error("opción desconocida " + nombre);
      return ConDatos(zk::CMD_ACK_OK, zk::CodificaOpcion(nombre, *valor), nombre + "=" + *valor);
    }
    case zk::CMD_OPTIONS_WRQ: {
      std::string texto = zk::TextoHastaNul(d, n);
      auto igual = texto.find('=');
      if (igual == std::string::npos || igual == 0) return Error("sin nombre=valor");
      std::string nombre = texto.substr(0, igual);
      // Names starting with "~" are the device's own and read-only.
      if (nombre[0] == '~') return Error(nombre + " es de solo lectura");
      e.opciones[nombre] = texto.substr(igual + 1);
      return Ok(texto);
    }
    case 69: {  // CMD_GET_PINWIDTH: first data byte = width of enrolment numbers
      return ConDatos(zk::CMD_ACK_OK, zk::Bytes{9, 0});
    }
    case zk::CMD_GET_FREE_SIZES: {
      auto c = e.Capacidades();
      const Perfil* perfil = BuscaPerfil(e.perfil);
      if (!perfil) return ConDatos(zk::CMD_ACK_OK, zk::CodificaCapacidades(c));
      if (perfil->cuentaCero) c.registros = 0;
      c.registros += static_cast<uint32_t>(perfil->cuentaDesfasada);
      zk::Bytes b = zk::CodificaCapacidades(c);
      b.resize(perfil->tamCapacidades);
      return ConDatos(zk::CMD_ACK_OK, std::move(b));
    }
    case zk::CMD_GET_TIME: {
      auto f = FechaDeSegundos(e.Hora());
      zk::Bytes b;
      zk::AgregaU32(b, zk::CodificaHora(f).value_or(0));
      return ConDatos(zk::CMD_ACK_OK, std::move(b), TextoFecha(f));
    }
    case zk::CMD_SET_TIME: {
      if (n < 4) return Error("hora corta");
      auto f = zk::DecodificaHora(zk::LeeU32(d));
      if (!zk::CodificaHora(f)) return Error("hora fuera de rango");
      e.PoneHora(SegundosCiviles(f));
      return Ok(TextoFecha(f));
    }
    case zk::CMD_DATA_WRRQ:
      return LecturaMasiva(e, d, n);
    case zk::CMD_DATA_RDY:
      return Trozo(e, d, n);
    case zk::CMD_FREE_DATA:
      preparado_.reset();
      recibido_.clear();
      recibido_.shrink_to_fit();
      return Ok();
    case zk::CMD_ATTLOG_RRQ:
      return LecturaDirecta(e.ConjuntoMarcaciones(), "marcaciones");
    case zk::CMD_DB_RRQ:
      return LecturaDirecta(std::make_shared<zk::Bytes>(e.ConjuntoPlantillas()), "plantillas");
    case zk::CMD_USERTEMP_RRQ:
    case zk::CMD_GET_USERTEMP: {
      if (p.comando == zk::CMD_USERTEMP_RRQ && n >= 1 && n < 3 && d[0] == zk::FCT_USER) {
        return LecturaDirecta(std::make_shared<zk::Bytes>(e.ConjuntoUsuarios()), "usuarios");
      }
      uint16_t uid;
      uint8_t dedo;
      if (!zk::DecodificaUidIndice(d, n, uid, dedo)) return Error("petición corta");
      auto it = e.plantillas.find({uid, dedo});
      std::string que = "uid " + std::to_string(uid) + " dedo " + std::to_string(dedo);
      if (it == e.plantillas.end()) return Error(que + ": no hay plantilla");
      const auto& b = it->second.datos;
      return Transferencia(b.data(), b.size(), que + ": " + std::to_string(b.size()) + " bytes");
    }
    case zk::CMD_FACE_RRQ: {
      uint16_t uid;
      uint8_t indice;
      if (!zk::DecodificaUidIndice(d, n, uid, indice)) return Error("petición corta");
      auto it = e.caras.find({uid, indice});
      std::string que = "uid " + std::to_string(uid) + " cara " + std::to_string(indice);
      if (it == e.caras.end()) return Error(que + ": no hay cara");
      const auto& b = it->second;
      return Transferencia(b.data(), b.size(), que + ": " + std::to_string(b.size()) + " bytes");
    }
    case zk::CMD_USER_WRQ:
      return EscribeUsuario(e, d, n);
    case zk::CMD_DELETE_USER: {
      if (n < 2) return Error("petición corta");
      uint16_t uid = zk::LeeU16(d);
      if (!e.BorraUsuario(uid)) return Error("uid " + std::to_string(uid) + " no existe");
      return Ok("uid " + std::to_string(uid));
    }
    case zk::CMD_DELETE_USERTEMP: {
      if (n < 2) return Error("petición corta");
      // (uid) alone deletes every finger; (uid, finger u8) or (uid, finger u16) one finger.
      return BorraPlantillas(e, zk::LeeU16(d), n >= 3 ? d[2] : -1);
    }
    case zk::CMD_DEL_FPTMP: {
      if (n < 25) return Error("petición corta");
      std::string id = zk::TextoHastaNul(d, 24);
      const Usuario* u = e.BuscaId(id);
      if (!u) return Error("usuario " + id + " no existe");
      return BorraPlantillas(e, u->uid, d[24]);
    }
    case zk::CMD_CLEAR_ATTLOG:
      e.marcaciones.clear();
      e.marcaciones.shrink_to_fit();
      e.InvalidaCaches();
      return Ok("marcaciones borradas");
    case zk::CMD_CLEAR_DATA: {
      // No type: everything; 1 records, 2 templates, 5 users (with their templates and faces).
      int tipo = n >= 1 ? d[0] : 0;
      if (tipo == 0 || tipo == 1) e.marcaciones.clear();
      if (tipo == 0 || tipo == 2) e.plantillas.clear();
      if (tipo == 0 || tipo == 5) {
        e.usuarios.clear();
        e.plantillas.clear();
        e.caras.clear();
      }
      e.InvalidaCaches();
      return Ok("tipo " + std::to_string(tipo));
    }
    case zk::CMD_CLEAR_ADMIN:
      for (auto& u : e.usuarios) u.privilegio = 0;
      return Ok("administradores borrados");
    case zk::CMD_PREPARE_DATA: {
      auto tam = zk::DecodificaPreparacion(d, n);
      if (!tam || *tam > kMaxSubida) return Error("tamaño inválido");
      recibido_.clear();
      recibido_.reserve(*tam);
      return Ok(std::to_string(*tam) + " bytes anunciados");
    }
    case zk::CMD_DATA:
      if (recibido_.size() + n > kMaxSubida) return Error("subida demasiado grande");
      recibido_.insert(recibido_.end(), d, d + n);
      return Ok(std::to_string(n) + " bytes");
    case zk::CMD_CHECKSUM_BUFFER: {
      zk::Bytes b;
      zk::AgregaU32(b, zk::ChecksumBuffer(recibido_.data(), recibido_.size()));
      return ConDatos(zk::CMD_ACK_OK, std::move(b));
    }
    case zk::CMD_TMP_WRITE:
      return EscribePlantilla(e, d, n);
    case zk::CMD_FACE_WRQ:
      return EscribeCara(e, d, n);
    default:
      // Unknown commands, and the reply codes some clients send to clear an error.
      return Simple(zk::CMD_ACK_UNKNOWN);
  }
}

Respuesta Sesion::LecturaMasiva(EstadoReloj& e, const uint8_t* d, size_t n) {
  auto pedido = zk::DecodificaPeticionMasiva(d, n);
  if (!pedido) return Error("petición masiva inválida");
  std::shared_ptr<const zk::Bytes> conjunto;
  std::string que;
  if (pedido->comando == zk::CMD_ATTLOG_RRQ) {
    conjunto = e.ConjuntoMarcaciones();
    que = "marcaciones";
  } else if (pedido->comando == zk::CMD_USERTEMP_RRQ && pedido->fct == zk::FCT_USER) {
    conjunto = std::make_shared<zk::Bytes>(e.ConjuntoUsuarios());
    que = "usuarios";
  } else if (pedido->comando == zk::CMD_DB_RRQ && pedido->fct == zk::FCT_FINGERTMP) {
    conjunto = std::make_shared<zk::Bytes>(e.ConjuntoPlantillas());
    que = "plantillas";
  } else if (pedido->comando == zk::CMD_OPLOG_RRQ) {
    conjunto = std::make_shared<zk::Bytes>(zk::Bytes{0, 0, 0, 0});
    que = "operaciones";
  } else {
    return Error("conjunto desconocido " + std::to_string(pedido->comando) + "/" +
                 std::to_string(pedido->fct));
  }
  que += ": " + std::to_string(conjunto->size()) + " bytes";
  if (conjunto->size() <= kMaxConjuntoEnLinea) {
    Respuesta r = ConDatos(zk::CMD_DATA, *conjunto, que + " en línea");
    r.paquetes[0].transferencia = true;
    return r;
  }
  uint32_t tam = static_cast<uint32_t>(conjunto->size());
  preparado_ = std::move(conjunto);
  zk::Bytes anuncio = zk::CodificaAnuncioMasivo(tam);
  const Perfil* perfil = BuscaPerfil(e.perfil);
  if (perfil && perfil->trozosDeDispositivo) zk::PoneU32(anuncio.data() + 9, 0x0023EFCD);  // seen
  return ConDatos(zk::CMD_ACK_OK, std::move(anuncio), que + " preparados");
}

Respuesta Sesion::Trozo(const EstadoReloj& e, const uint8_t* d, size_t n) {
  uint32_t inicio, tam;
  if (!zk::DecodificaPeticionTrozo(d, n, inicio, tam)) return Error("petición de trozo corta");
  if (!preparado_) return Error("no hay datos preparados");
  if (inicio > preparado_->size()) return Error("trozo fuera del conjunto");
  size_t largo = std::min<size_t>({tam, preparado_->size() - inicio, kMaxTrozo});
  const uint8_t* p = preparado_->data() + inicio;
  std::string detalle = std::to_string(inicio) + "+" + std::to_string(largo);
  const Perfil* perfil = BuscaPerfil(e.perfil);
  if (!perfil || !perfil->trozosDeDispositivo || transporte_ != Transporte::kTcp)
    return Transferencia(p, largo, std::move(detalle));
  // As devices send it: packets of 1 008 bytes numbered in their session field, and the
  // closing ACK_OK, carrying the byte count there, late.
  constexpr size_t kDatosPorPaquete = 1008;
  Respuesta r;
  r.paquetes.push_back({zk::CMD_PREPARE_DATA,
                        zk::CodificaPreparacion(static_cast<uint32_t>(largo), kDatosPorPaquete),
                        true});
  for (size_t i = 0; i < largo; i += kDatosPorPaquete) {
    const size_t m = std::min(kDatosPorPaquete, largo - i);
    r.paquetes.push_back(
        {zk::CMD_DATA, zk::Bytes(p + i, p + i + m), true, static_cast<int32_t>(i / 1008)});
  }
  r.paquetes.push_back({zk::CMD_ACK_OK, {}, false, static_cast<int32_t>(largo & 0xFFFF), -1, true});
  r.detalle = std::move(detalle) + " en paquetes de 1008";
  return r;
}

Respuesta Sesion::Cara150(const EstadoReloj& e, const uint8_t* d, size_t n) {
  uint16_t uid;
  uint8_t indice;
  if (!zk::DecodificaUidIndice(d, n, uid, indice)) return Error("petición corta");
  auto it = e.caras.find({uid, indice});
  if (it == e.caras.end() || it->second.size() + 2 > kRegistroCara150)
    return Error("uid " + std::to_string(uid) + ": no hay cara");
  zk::Bytes registro(kRegistroCara150, 0);
  zk::PoneU16(registro.data(), static_cast<uint16_t>(it->second.size()));
  std::copy(it->second.begin(), it->second.end(), registro.begin() + 2);
  return Transferencia(registro.data(), registro.size(), "cara de " + std::to_string(uid));
}

Respuesta Sesion::LecturaDirecta(std::shared_ptr<const zk::Bytes> conjunto,
                                 const std::string& que) {
  // Old clients: the size first (of the whole set, its count included), then the data.
  std::string detalle = que + " (directa): " + std::to_string(conjunto->size()) + " bytes";
  return Transferencia(conjunto->data(), conjunto->size(), detalle);
}

Respuesta Sesion::EscribeUsuario(EstadoReloj& e, const uint8_t* d, size_t n) {
  zk::UsuarioZk z;
  if ((n != zk::kUsuario72 && n != zk::kUsuario28) || !zk::DecodificaUsuario(d, n, z)) {
    return Error("registro de usuario de " + std::to_string(n) + " bytes");
  }
  if (z.uid == 0) return Error("uid 0");
  Usuario nuevo = e.DeUsuarioZk(z);
  std::string que = "uid " + std::to_string(z.uid) + " id " + nuevo.id;
  if (Usuario* u = e.BuscaUid(z.uid)) {
    *u = std::move(nuevo);
    return Ok(que + " modificado");
  }
  if (e.usuarios.size() >= e.Capacidades().capUsuarios) return Error("sin lugar para usuarios");
  e.usuarios.push_back(std::move(nuevo));
  return Ok(que + " nuevo");
}

Respuesta Sesion::BorraPlantillas(EstadoReloj& e, uint16_t uid, int dedo) {
  std::string que =
      "uid " + std::to_string(uid) + (dedo < 0 ? " todos" : " dedo " + std::to_string(dedo));
  size_t borradas = 0;
  if (dedo < 0) {
    borradas = std::erase_if(e.plantillas, [&](const auto& p) { return p.first.first == uid; });
  } else {
    borradas = e.plantillas.erase({uid, static_cast<uint8_t>(dedo)});
  }
  if (borradas == 0) return Error(que + ": no había plantillas");
  return Ok(que + ": " + std::to_string(borradas) + " borradas");
}

Respuesta Sesion::EscribePlantilla(EstadoReloj& e, const uint8_t* d, size_t n) {
  auto w = zk::DecodificaEscrituraPlantilla(d, n);
  if (!w) return Error("petición corta");
  std::string que = "uid " + std::to_string(w->uid) + " dedo " + std::to_string(w->dedo);
  if (!e.BuscaUid(w->uid)) return Error(que + ": el usuario no existe");
  if (w->dedo > 9) return Error(que + ": dedo inválido");
  if (w->tam == 0 || w->tam > recibido_.size()) {
    return Error(que + ": " + std::to_string(w->tam) + " bytes pedidos, " +
                 std::to_string(recibido_.size()) + " recibidos");
  }
  e.plantillas[{w->uid, w->dedo}] =
      Plantilla{w->bandera, zk::Bytes(recibido_.begin(), recibido_.begin() + w->tam)};
  return Ok(que + ": " + std::to_string(w->tam) + " bytes, bandera " + std::to_string(w->bandera));
}

Respuesta Sesion::EscribeCara(EstadoReloj& e, const uint8_t* d, size_t n) {
  auto w = zk::DecodificaEscrituraCara(d, n);
  if (!w) return Error("petición corta");
  std::string que = "uid " + std::to_string(w->uid) + " cara " + std::to_string(w->indice);
  if (!e.BuscaUid(w->uid)) return Error(que + ": el usuario no existe");
  if (w->tam == 0) {
    // Size 0 with nothing uploaded deletes the face.
    if (e.caras.erase({w->uid, w->indice}) == 0) return Error(que + ": no había cara");
    return Ok(que + ": borrada");
  }
  if (w->tam > recibido_.size()) {
    return Error(que + ": " + std::to_string(w->tam) + " bytes pedidos, " +
                 std::to_string(recibido_.size()) + " recibidos");
  }
  e.caras[{w->uid, w->indice}] = zk::Bytes(recibido_.begin(), recibido_.begin() + w->tam);
  return Ok(que + ": " + std::to_string(w->tam) + " bytes");
}

std::vector<PaqueteEnviado> Enmarca(const Respuesta& r, uint16_t sesion, uint16_t idRespuesta,
                                    Transporte t) {
  std::vector<PaqueteEnviado> salida;
  for (const auto& s : r.paquetes) {
    const auto ses = s.sesion >= 0 ? static_cast<uint16_t>(s.sesion) : sesion;
    const auto id = s.idRespuesta >= 0 ? static_cast<uint16_t>(s.idRespuesta) : idRespuesta;
    if (t == Transporte::kTcp) {
      salida.push_back({zk::ArmaTramaTcp(s.codigo, ses, id, s.datos), s.codigo, s.transferencia});
      continue;
    }
    if (s.codigo != zk::CMD_DATA || s.datos.size() <= zk::kMaxDatosUdp) {
      salida.push_back({zk::ArmaPayload(s.codigo, ses, id, s.datos), s.codigo, s.transferencia});
      continue;
    }
    for (size_t i = 0; i < s.datos.size(); i += zk::kMaxDatosUdp) {
      size_t largo = std::min<size_t>(zk::kMaxDatosUdp, s.datos.size() - i);
      salida.push_back({zk::ArmaPayload(s.codigo, sesion, idRespuesta, s.datos.data() + i, largo),
                        s.codigo, s.transferencia});
    }
  }
  return salida;
}

LectorTramas::Resultado LectorTramas::Siguiente(zk::Bytes& payload) {
  uint32_t largo = 0;
  const uint8_t* p = buffer_.data() + inicio_;
  size_t n = buffer_.size() - inicio_;
  if (n == 0) {
    buffer_.clear();
    inicio_ = 0;
    return Resultado::kFalta;
  }
  switch (zk::ExaminaTramaTcp(p, n, largo)) {
    case zk::EstadoTrama::kInvalida:
      return Resultado::kInvalido;
    case zk::EstadoTrama::kIncompleta:
      // Keep the buffer from growing without end: move the pending bytes to the front.
      if (inicio_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(inicio_));
        inicio_ = 0;
      }
      return Resultado::kFalta;
    case zk::EstadoTrama::kCompleta:
      break;
  }
  payload.assign(p + zk::kTamPrefijoTcp, p + zk::kTamPrefijoTcp + largo);
  inicio_ += zk::kTamPrefijoTcp + largo;
  return Resultado::kPayload;
}

}  // namespace clocksim
