// lector: the attendance clock reader.
#include "app/gui/Programa.h"

int main(int argc, char** argv) {
  return lector::app::Main(argc, argv);
}
