/* pagora_control.h: the C interface between Prueba and a transaction control library. */
#ifndef PAGORA_CONTROL_H
#define PAGORA_CONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Bumped whenever the table below changes shape; a library refuses versions it does not know. */
#define PAGORA_CONTROL_ABI 1

/* Value types, numbered as the dispatch variant types they stand for. */
enum {
  PAGORA_VACIO = 0,
  PAGORA_ENTERO = 2, /* 16-bit Integer */
  PAGORA_LARGO = 3,  /* 32-bit Long */
  PAGORA_DOBLE = 5,  /* Double */
  PAGORA_CADENA = 8, /* String, UTF-8 */
  PAGORA_BOOLEANO = 11,
  PAGORA_BYTE = 17
};

/* Result codes: 0 is success; failures use the dispatch error numbers. */
#define PAGORA_OK 0
#define PAGORA_E_MIEMBRO ((int32_t)0x80020003)      /* the control has no such member */
#define PAGORA_E_TIPO ((int32_t)0x80020005)         /* the value is not of the member's type */
#define PAGORA_E_SOLO_LECTURA ((int32_t)0x800A017F) /* a read-only property was put */
#define PAGORA_E_FALLA ((int32_t)0x80004005)        /* anything else */

/* A typed value. For a get or a method result the string belongs to the control and stays valid until
   the next call on the same control. */
typedef struct PagoraVariante {
  int32_t tipo;
  union {
    int16_t entero;
    int32_t largo;
    double doble;
    int32_t booleano; /* 0 False, anything else True */
    uint8_t byte;
  } valor;
  const char* cadena;
} PagoraVariante;

typedef struct PagoraControl PagoraControl;

/* Every function but Liberar returns PAGORA_OK or an error code; after an error UltimoError gives its
   text (valid until the next call). Methods take no arguments. */
typedef struct PagoraControlTabla {
  int32_t abi;
  int32_t (*Poner)(PagoraControl* control, int32_t dispid, const PagoraVariante* valor);
  int32_t (*Obtener)(PagoraControl* control, int32_t dispid, PagoraVariante* valor);
  int32_t (*Llamar)(PagoraControl* control, int32_t dispid, PagoraVariante* resultado);
  const char* (*UltimoError)(PagoraControl* control);
  void (*Liberar)(PagoraControl* control);
} PagoraControlTabla;

struct PagoraControl {
  const PagoraControlTabla* tabla;
};

/* The entry point every control library exports: creates one instance of the class registered under
   progid, or returns NULL when the library does not serve that ProgID or that interface version. */
typedef PagoraControl* (*PagoraCrearControlFn)(const char* progid, int32_t abi);
#define PAGORA_PUNTO_ENTRADA "PagoraCrearControl"

#ifdef __cplusplus
}
#endif

#endif /* PAGORA_CONTROL_H */
