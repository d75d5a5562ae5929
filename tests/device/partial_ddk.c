/* A deliberately incomplete and misbehaving device library for the wrapper's tests. */
#include <string.h>

#include "velk_ddk.h"

int16_t Device_Init(int16_t lang, char* ddk, int32_t window, int32_t zero) {
  (void)lang, (void)ddk, (void)window, (void)zero;
  return 0;
}

/* Fills the whole buffer and writes no terminating zero. */
int16_t Device_GetName(int16_t lang, char* ddk, int16_t device, int16_t kind, int16_t number,
                       char* buffer) {
  (void)lang, (void)ddk, (void)device, (void)kind, (void)number;
  memset(buffer, 'n', VELK_DDK_NAME_SIZE - 1);
  buffer[VELK_DDK_NAME_SIZE - 1] = ' ';
  return 0;
}

/* Returns an input number no device has. */
int16_t Device_Collect(int16_t device, int16_t* input, double* value) {
  (void)device;
  *input = 999;
  *value = 1.0;
  return 0;
}
