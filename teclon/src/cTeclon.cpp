// cTeclon: the exported class, each member handed to the library's driver.
#include "teclon/cTeclon.hpp"

#include "manejador.hpp"

cTeclon::cTeclon() : cTeclon(std::make_unique<teclon::Manejador>(nullptr, nullptr)) {}

cTeclon::cTeclon(std::unique_ptr<teclon::Manejador> manejador) : m_(std::move(manejador)) {}

cTeclon::~cTeclon() = default;

void cTeclon::Puerto(short vPuerto) {
  m_->Puerto(vPuerto);
}

short cTeclon::CodError() const {
  return m_->CodError();
}

std::string cTeclon::MsgError() const {
  return m_->MsgError();
}

void cTeclon::Cancelar(bool vCancelar) {
  m_->Cancelar(vCancelar);
}

void cTeclon::CerrarPuerto() {
  m_->CerrarPuerto();
}

bool cTeclon::CargarPROMPT() {
  return m_->CargarPROMPT();
}

bool cTeclon::LeerCHIP(std::string& Banda) {
  return m_->LeerCHIP(Banda);
}

bool cTeclon::LeerBANDA(std::string& Banda) {
  return m_->LeerBANDA(Banda);
}

bool cTeclon::IngresarPIN(const std::string& NroTarjeta, const std::string& ClaveTrabajo,
                          const std::string& Mensaje1, const std::string& Mensaje2, std::string& NroPIN) {
  return m_->IngresarPIN(NroTarjeta, ClaveTrabajo, Mensaje1, Mensaje2, NroPIN);
}

bool cTeclon::InicializarTECLON() {
  return m_->InicializarTECLON();
}

bool cTeclon::TransferirClaveMaestra(const std::string& ClaveMaestra) {
  return m_->TransferirClaveMaestra(ClaveMaestra);
}

bool cTeclon::VerificarClaveMaestra(short PosClave) {
  return m_->VerificarClaveMaestra(PosClave);
}

bool cTeclon::SelClaveMaestra(short PosClave) {
  return m_->SelClaveMaestra(PosClave);
}

void cTeclon::FijarBombeo(std::function<void()> bombeo) {
  m_->FijarBombeo(std::move(bombeo));
}
