/* sin_entrada.c: a loadable library that exports something, but not a control's entry point. */
int PagoraOtraCosa(void);
int PagoraOtraCosa(void) { return 1; }
