/* teclon.h: C interface of the PIN pad driver (usable from C and through dlopen or ctypes). */
#ifndef TECLON_TECLON_H
#define TECLON_TECLON_H

#include <stddef.h>

#include "teclon/resultado.h"

#if defined(TECLON_COMPILANDO)
#define TECLON_C_API __attribute__((visibility("default")))
#else
#define TECLON_C_API
#endif

#ifdef __cplusplus
extern "C" {
#endif


typedef struct TeclonObjeto TeclonObjeto;

/* Every function accepts a null handle (and does nothing, or returns 0); none throws. Functions
 * returning int return 1 for true and 0 for false. Text arguments may be null (read as "").
 * An answer that does not fit in its out-buffer (size counts the final NUL) is not written:
 * the call returns 0 with tcError and a message saying so. */
TECLON_C_API TeclonObjeto* cTeclon_Crear(void);
TECLON_C_API void cTeclon_Destruir(TeclonObjeto* h);
TECLON_C_API void cTeclon_Puerto(TeclonObjeto* h, short vPuerto);
TECLON_C_API short cTeclon_CodError(TeclonObjeto* h);
/* Valid until the next call on h. */
TECLON_C_API const char* cTeclon_MsgError(TeclonObjeto* h);
/* May be called from another thread or from the pump while an operation waits. */
TECLON_C_API void cTeclon_Cancelar(TeclonObjeto* h, int vCancelar);
TECLON_C_API void cTeclon_CerrarPuerto(TeclonObjeto* h);
TECLON_C_API int cTeclon_CargarPROMPT(TeclonObjeto* h);
TECLON_C_API int cTeclon_LeerCHIP(TeclonObjeto* h, char* Banda, size_t tamano);
TECLON_C_API int cTeclon_LeerBANDA(TeclonObjeto* h, char* Banda, size_t tamano);
TECLON_C_API int cTeclon_IngresarPIN(TeclonObjeto* h, const char* NroTarjeta, const char* ClaveTrabajo,
                                     const char* Mensaje1, const char* Mensaje2, char* NroPIN, size_t tamano);
TECLON_C_API int cTeclon_InicializarTECLON(TeclonObjeto* h);
TECLON_C_API int cTeclon_TransferirClaveMaestra(TeclonObjeto* h, const char* ClaveMaestra);
TECLON_C_API int cTeclon_VerificarClaveMaestra(TeclonObjeto* h, short PosClave);
TECLON_C_API int cTeclon_SelClaveMaestra(TeclonObjeto* h, short PosClave);
/* Called at every poll of a wait, on the caller's thread; null removes it. */
TECLON_C_API void cTeclon_FijarBombeo(TeclonObjeto* h, void (*bombeo)(void*), void* contexto);

#ifdef __cplusplus
}
#endif

#endif
