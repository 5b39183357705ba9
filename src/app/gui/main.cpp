// lector: the Qt program. The windows come with the application shell; until then the program
// only confirms that its folder and the settings are in place.
#include <QApplication>
#include <cstdio>

#include "support/Lector.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::fprintf(stderr, "lector: carpeta del programa %s\n",
               lector::CarpetaPrograma().string().c_str());
  std::fprintf(stderr, "lector: las ventanas de inicio de sesión y principal aún no existen.\n");
  return 1;
}
