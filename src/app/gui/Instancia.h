#pragma once
// One program per folder: a lock file in the program folder says which copy reads the clocks and
// writes the month files; a later copy can ask it, through a local socket, to show its window.
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <filesystem>
#include <functional>

namespace lector::app {

class Instancia : public QObject {
 public:
  explicit Instancia(const std::filesystem::path& carpeta);
  // True when this copy now holds the folder (and hears the others); otherwise OtroPid() tells
  // which copy does.
  bool Toma();
  long long OtroPid() const;
  // Asks the copy that holds the folder to show its window; true when it heard.
  bool Despierta();
  // In the copy that holds the folder: another copy asked to be shown.
  std::function<void()> alDespertar;

 private:
  QLockFile candado_;
  QString nombre_;  // the local socket's name, one per folder and user
  QLocalServer servidor_;
};

}  // namespace lector::app
