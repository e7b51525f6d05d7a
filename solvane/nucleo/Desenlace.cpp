// Desenlace: a run's outcome gathered from what it noted, and written as JSON.
#include "Desenlace.h"

#include <cmath>
#include <cstdio>

namespace solvane {

namespace {

// The length of the well-formed UTF-8 sequence at `i`, 0 when there is none (overlong forms, surrogates
// and code points beyond U+10FFFF are not well-formed).
std::size_t LargoUtf8(const std::string& t, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(t[k]); };
  const auto cola = [&](std::size_t k) { return k < t.size() && (b(k) & 0xC0) == 0x80; };
  const unsigned c = b(i);
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cola(i + 1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cola(i + 1) || !cola(i + 2)) return 0;
    if ((c == 0xE0 && b(i + 1) < 0xA0) || (c == 0xED && b(i + 1) > 0x9F)) return 0;
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cola(i + 1) || !cola(i + 2) || !cola(i + 3)) return 0;
    if ((c == 0xF0 && b(i + 1) < 0x90) || (c == 0xF4 && b(i + 1) > 0x8F)) return 0;
    return 4;
  }
  return 0;
}

std::string Cadena(const std::string& t) {
  std::string r = "\"";
  for (std::size_t i = 0; i < t.size();) {
    const auto c = static_cast<unsigned char>(t[i]);
    if (c == '"' || c == '\\') {
      r += '\\';
      r += static_cast<char>(c);
    } else if (c == '\n') {
      r += "\\n";
    } else if (c == '\r') {
      r += "\\r";
    } else if (c == '\t') {
      r += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char u[8];
      std::snprintf(u, sizeof u, "\\u%04x", c);
      r += u;
    } else if (const std::size_t n = LargoUtf8(t, i); n > 0) {
      r.append(t, i, n);
      i += n;
      continue;
    } else {
      r += "\\ufffd";
    }
    ++i;
  }
  return r + "\"";
}

std::string Version(const std::optional<std::int16_t>& codigo) {
  return codigo ? Cadena(TextoDeCodigo(*codigo)) : "null";
}

std::string Codigo(const std::optional<std::int16_t>& codigo) {
  return codigo ? std::to_string(*codigo) : "null";
}

const char* NombreFin(Desenlace::Fin fin) {
  switch (fin) {
    case Desenlace::Fin::Actualizada:
      return "actualizada";
    case Desenlace::Fin::AlDia:
      return "al_dia";
    case Desenlace::Fin::Rechazada:
      return "rechazada";
    case Desenlace::Fin::Fallida:
      break;
  }
  return "fallida";
}

}  // namespace

Desenlace Resumir(bool finalizado, const Corrida& corrida, const std::vector<Aviso>& avisos,
                  std::int16_t versionPrograma, double segundos) {
  Desenlace d;
  d.versionPrograma = versionPrograma;
  d.versionAntes = corrida.versionBD;
  d.pasos = corrida.pasos;
  d.segundos = segundos;
  if (finalizado)
    d.fin = corrida.grabada ? Desenlace::Fin::Actualizada : Desenlace::Fin::AlDia;
  else if (corrida.respuesta && *corrida.respuesta != kRespuestaSi)
    d.fin = Desenlace::Fin::Rechazada;
  // A run that did not finish changed nothing: its one transaction was rolled back or never begun.
  d.versionDespues = d.fin == Desenlace::Fin::Actualizada ? std::optional(versionPrograma) : d.versionAntes;
  if (d.fin != Desenlace::Fin::Fallida) return d;
  const Aviso* causa = nullptr;
  for (const Aviso& a : avisos) {
    if (a.estilo == kEstiloStop) {
      causa = &a;
      break;
    }
    causa = &a;
  }
  if (causa) {
    d.numeroError = causa->numero;
    for (char c : causa->texto)
      if (c != '\r') d.textoError += c;
  }
  return d;
}

std::string DesenlaceJson(const Desenlace& d) {
  std::string r = "{\"resultado\":" + Cadena(NombreFin(d.fin));
  r += std::string(",\"exito\":") +
       (d.fin == Desenlace::Fin::Actualizada || d.fin == Desenlace::Fin::AlDia ? "true" : "false");
  r += ",\"version_programa\":" + Version(d.versionPrograma);
  r += ",\"version_antes\":" + Version(d.versionAntes) + ",\"codigo_antes\":" + Codigo(d.versionAntes);
  r +=
      ",\"version_despues\":" + Version(d.versionDespues) + ",\"codigo_despues\":" + Codigo(d.versionDespues);
  r += ",\"pasos\":[";
  for (std::size_t i = 0; i < d.pasos.size(); ++i) {
    const PasoPendiente& p = d.pasos[i];
    r += std::string(i ? "," : "") + "{\"desde\":" + Version(p.desde) + ",\"hacia\":" + Version(p.hacia) +
         ",\"leyenda\":" + Cadena(p.etiqueta) + "}";
  }
  r += "],\"error\":";
  if (d.fin == Desenlace::Fin::Fallida)
    r += std::string("{\"numero\":") + (d.numeroError ? std::to_string(*d.numeroError) : "null") +
         ",\"texto\":" + Cadena(d.textoError) + "}";
  else
    r += "null";
  // Milliseconds written by hand: printf's decimal point follows the locale, which Qt sets from LANG.
  const long long ms = std::isfinite(d.segundos) && d.segundos > 0 ? std::llround(d.segundos * 1000) : 0;
  char segundos[32];
  std::snprintf(segundos, sizeof segundos, "%lld.%03lld", ms / 1000, ms % 1000);
  return r + ",\"segundos\":" + segundos + "}\n";
}

}  // namespace solvane
