/* sin_entrada.c: a loadable library that exports something, but not a control's entry point. */
#include "pagora_control.h" /* also proves the interface header is valid C */

int PagoraOtraCosa(void);
int PagoraOtraCosa(void) { return PAGORA_CONTROL_ABI; }
