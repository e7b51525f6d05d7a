/* The C interface, built against the installed library through pkg-config, on teclon-simulador. */
#include <stdio.h>
#include <string.h>

#include <teclon/teclon.h>

static int fallos = 0;

#define COMPROBAR(cond)                                                 \
  do {                                                                  \
    if (!(cond)) {                                                      \
      fprintf(stderr, "%s:%d: falló: %s\n", __FILE__, __LINE__, #cond); \
      ++fallos;                                                         \
    }                                                                   \
  } while (0)

static int bombeos = 0;
static void Contar(void* contexto) {
  ++*(int*)contexto;
}

static void CancelarAlBombear(void* contexto) {
  cTeclon_Cancelar((TeclonObjeto*)contexto, 1);
}

int main(void) {
  TeclonObjeto* h = cTeclon_Crear();
  char banda[512];
  char corto[16];
  char pin[17];

  COMPROBAR(h != NULL);
  COMPROBAR(cTeclon_CodError(h) == tcError);
  COMPROBAR(strcmp(cTeclon_MsgError(h), "") == 0);

  cTeclon_Puerto(h, 5);
  cTeclon_FijarBombeo(h, Contar, &bombeos);
  COMPROBAR(cTeclon_CargarPROMPT(h) == 1);
  COMPROBAR(cTeclon_CodError(h) == tcAprobado);
  COMPROBAR(cTeclon_InicializarTECLON(h) == 1);

  COMPROBAR(cTeclon_LeerBANDA(h, banda, sizeof banda) == 1);
  COMPROBAR(strchr(banda, '\r') != NULL && banda[0] == 'B');
  COMPROBAR(bombeos > 0);

  /* Too small: nothing written past the buffer, a failure that says why. */
  memset(corto, 'Z', sizeof corto);
  COMPROBAR(cTeclon_LeerBANDA(h, corto, 8) == 0);
  COMPROBAR(corto[0] == '\0' && corto[8] == 'Z' && corto[15] == 'Z');
  COMPROBAR(cTeclon_CodError(h) == tcError);
  COMPROBAR(strncmp(cTeclon_MsgError(h), "Espacio insuficiente", 20) == 0);

  COMPROBAR(cTeclon_IngresarPIN(h, "4000123412341234", "CLAVE", "INGRESE PIN", NULL, pin, sizeof pin) == 1);
  COMPROBAR(strlen(pin) == 16);
  COMPROBAR(cTeclon_IngresarPIN(h, "4000123412341234", "CLAVE", "", "", pin, 16) == 0);

  COMPROBAR(cTeclon_VerificarClaveMaestra(h, 4) == 0);
  COMPROBAR(cTeclon_CodError(h) == tcNOAprobado);
  COMPROBAR(strcmp(cTeclon_MsgError(h), "Falta Cargar Clave Maestra") == 0);
  COMPROBAR(cTeclon_TransferirClaveMaestra(h, "00112233445566778899AABBCCDDEEFF") == 1);
  COMPROBAR(cTeclon_VerificarClaveMaestra(h, 0) == 1);
  COMPROBAR(cTeclon_SelClaveMaestra(h, 0) == 1);
  COMPROBAR(cTeclon_LeerCHIP(h, NULL, 0) == 1);
  COMPROBAR(cTeclon_CodError(h) == tcNOAprobado);

  /* Cancel from the caller's pump while the card is awaited. */
  cTeclon_FijarBombeo(h, CancelarAlBombear, h);
  COMPROBAR(cTeclon_LeerBANDA(h, banda, sizeof banda) == 0);
  COMPROBAR(cTeclon_CodError(h) == tcCancel);
  COMPROBAR(strcmp(cTeclon_MsgError(h), "Operacion Leer BANDA Cancelada") == 0);
  cTeclon_FijarBombeo(h, NULL, NULL);

  cTeclon_Puerto(h, 6);
  COMPROBAR(cTeclon_CargarPROMPT(h) == 0);
  COMPROBAR(cTeclon_CodError(h) == tcError);
  COMPROBAR(strncmp(cTeclon_MsgError(h), "ERROR al Abrir Puerto 6 - ", 26) == 0);
  cTeclon_CerrarPuerto(h);

  /* A null handle is harmless. */
  COMPROBAR(cTeclon_CargarPROMPT(NULL) == 0);
  COMPROBAR(cTeclon_CodError(NULL) == tcError);
  cTeclon_Destruir(NULL);
  cTeclon_Destruir(h);

  if (fallos == 0) printf("prueba_c_abi: todo bien\n");
  return fallos == 0 ? 0 : 1;
}
