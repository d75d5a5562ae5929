/* The C interface of the gauge driver library Velk_DDK, shared by the program (which loads
 * it with dlopen) and by every library that implements it. 16-bit integers are int16_t,
 * 32-bit integers int32_t, floating values double, texts 8-bit zero-terminated. */
#ifndef VELK_DDK_H
#define VELK_DDK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Buffer size the caller passes to Device_GetName (filled with blanks by the caller). */
#define VELK_DDK_NAME_SIZE 200
/* Buffer size the caller passes to Device_Unit: a unit has at most 15 bytes. */
#define VELK_DDK_UNIT_SIZE 16
/* Status of Device_Value for a valid value outside the tolerance limits. */
#define VELK_DDK_OUT_OF_RANGE 136

/* Called once before anything else with seven zeros. */
void Device_PreInit(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g);
/* Starts the devices described by the file ddk. Returns 0 when the devices are ready. */
int16_t Device_Init(int16_t lang, char* ddk, int32_t window, int32_t zero);
/* Stops the devices. */
void Device_DeInit(void);
/* Names item number of kind (1 foot switch, 2 measuring input) of device 1..8. Returns 0 when
 * the item exists; its zero-terminated name is then in buffer (at most 200 bytes written). */
int16_t Device_GetName(int16_t lang, char* ddk, int16_t device, int16_t kind, int16_t number,
                       char* buffer);
/* The library's own device set-up; here it reads the file ddk anew. */
void Device_Setup(int16_t lang, char* ddk, int32_t window, char* text);
/* Current value of an input. Returns 0 valid, 136 out of range, other positive: no value,
 * negative: no answer at all. */
int16_t Device_Value(int16_t device, int16_t input, double* value);
/* Returns above 0 while the foot-switch input of the device is pressed. */
int16_t Device_Trigger(int16_t device, int16_t input, int16_t zero);
/* Takes the oldest data-key value queued for the device. Returns 0 when one was waiting;
 * *input and *value then hold the input it belongs to and its value. */
int16_t Device_Collect(int16_t device, int16_t* input, double* value);
/* Stores limits of an input: kind 2 tolerance limits, kind 1 control limits. */
void Device_LimitCheck(int16_t device, int16_t input, int16_t kind, double upper, double lower,
                       int16_t nine);
/* Optional (a library may lack it): where the values of an input come from. Returns 0 when the
 * input exists; text (size bytes, zero-terminated) is then "simulated" or "serial PATH" (a
 * gauge on a serial port) and *age_ms the age of the gauge's last reading in milliseconds
 * (0 for a simulated input, -1 before the first). Returns 1 otherwise. */
int16_t Device_Source(int16_t device, int16_t input, char* text, int32_t size, int32_t* age_ms);
/* Optional (a library may lack it): the unit of an input's values as the file ddk gives it.
 * Returns 0 when the input exists; text (size bytes, zero-terminated) then holds the unit, empty
 * when the file gives none. Returns 1 otherwise. */
int16_t Device_Unit(char* ddk, int16_t device, int16_t input, char* text, int32_t size);

#ifdef __cplusplus
}
#endif

#endif
