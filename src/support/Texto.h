#pragma once
// Text helpers shared by the clock link and the server link: JSON pieces, separated fields and
// the text lists kept in memory (last slot always empty and never searched).
#include <string>
#include <vector>

#include "support/Lector.h"

namespace lector {

// "name":"value", with the value escaped as JSON requires (quote, backslash, controls); values
// without those characters come out unchanged.
std::string ParJson(const std::string& nombre, const std::string& valor);
// "[" + items without their first character + "]"; "" or one character gives "[]".
std::string ListaJson(const std::string& items);
// The n-th field (from 1) of a separated text; an empty separator means ";".
std::string Campo(const std::string& texto, long n, const std::string& separador);
// 1 + the number of positions where the separator begins (overlaps count).
long CuentaCampos(const std::string& texto, const std::string& separador);
bool EstaEnLista(const std::vector<std::string>& lista, const std::string& valor);
std::vector<std::string> QuitaDeLista(const std::vector<std::string>& lista,
                                      const std::string& valor);
// True when the record equals a slot of LineasLeidas from max(p - 10, 0) to the slot before
// the last.
bool EstaEnRecientes(const Lector& l, const std::string& registro, long p);

}  // namespace lector
