/* resultado.h: the result codes and PIN pad models, one definition for the C and C++ interfaces. */
#ifndef TECLON_RESULTADO_H
#define TECLON_RESULTADO_H

/* C++ gets a fixed 32-bit type, the size C gives these enums on every platform we build for. */
#ifdef __cplusplus
#define TECLON_TIPO_ENUM : int
#else
#define TECLON_TIPO_ENUM
#endif

/* Result code of the last operation (CodError). */
typedef enum TeclonError TECLON_TIPO_ENUM {
  tcError = 0,
  tcAprobado = 1,
  tcNOAprobado = 2,
  tcCancel = 3,
  tcTimeOut = 4
} TeclonError;

/* PIN pad models, published for callers that record one per cash desk; the driver treats both alike. */
typedef enum TeclonModelo TECLON_TIPO_ENUM { tcModVF1000SE = 0, tcModVFVX800 = 1 } TeclonModelo;

#undef TECLON_TIPO_ENUM

#endif
