#include "app/gui/Instancia.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QLocalSocket>

namespace lector::app {
namespace {

constexpr int kEsperaSocket = 2000;
constexpr char kMostrar[] = "mostrar\n";

}  // namespace

Instancia::Instancia(const std::filesystem::path& carpeta)
    : candado_(QString::fromStdString((carpeta / "Lector.lock").string())) {
  // A copy holds the folder for months: only a dead holder's lock is taken over, never an old one.
  candado_.setStaleLockTime(0);
  const QByteArray huella =
      QCryptographicHash::hash(QByteArray::fromStdString(carpeta.lexically_normal().string()),
                               QCryptographicHash::Sha256)
          .toHex()
          .left(16);
  nombre_ = QString("lector-%1-%2").arg(::getuid()).arg(QString::fromLatin1(huella));
}

bool Instancia::Toma() {
  if (!candado_.tryLock(0)) return false;
  // The lock is ours, so a socket left by a copy that died is stale.
  QLocalServer::removeServer(nombre_);
  servidor_.setSocketOptions(QLocalServer::UserAccessOption);
  if (servidor_.listen(nombre_)) {
    QObject::connect(&servidor_, &QLocalServer::newConnection, this, [this] {
      while (QLocalSocket* s = servidor_.nextPendingConnection()) {
        QObject::connect(s, &QLocalSocket::readyRead, s, [this, s] {
          if (s->readAll().startsWith("mostrar") && alDespertar) alDespertar();
          s->disconnectFromServer();
        });
        QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      }
    });
  }
  return true;
}

long long Instancia::OtroPid() const {
  qint64 pid = 0;
  QString maquina, programa;
  return candado_.getLockInfo(&pid, &maquina, &programa) ? pid : 0;
}

bool Instancia::Despierta() {
  QLocalSocket s;
  s.connectToServer(nombre_);
  if (!s.waitForConnected(kEsperaSocket)) return false;
  s.write(kMostrar);
  return s.waitForBytesWritten(kEsperaSocket);
}

}  // namespace lector::app
