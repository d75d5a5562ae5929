/*
 * Velk_Qentrix_Control: remote control of the gauge software Qentrix over TCP.
 *
 * Up to 100 independent connections, the slots 0 to 99. Each slot is opened with
 * Control_Init and closed with Control_DeInit; every other function sends one request on
 * a slot and waits for the answer line. Every call returns within a bound: two seconds per
 * request (including the sending and the moving of pushed trigger records before it),
 * five seconds for connecting.
 *
 * Result codes (int32_t) of every function except Control_DeInit:
 *   0  success; the outputs are written
 *   1  no usable answer: slot not connected, connection lost, request not taken by the peer
 *      or no answer line within about two seconds, call abandoned by Control_DeInit from
 *      another thread, or an empty answer line
 *   2  Qentrix answered "---" (read functions) or something other than "ok" (write functions)
 *   3  an argument is out of range (including null pointers and texts that are too long);
 *      in Control_GetLastCharValue and Control_GetLastCharDateTime: the characteristic has
 *      no stored value
 *   4  an argument is out of range (only Control_GetCharValue, Control_GetCharValNum,
 *      Control_GetLastCharValue, Control_GetCharDateTime, Control_GetLastCharDateTime)
 * Outputs are written only on result 0. When a range check fails nothing is sent.
 *
 * Buffers: text outputs need at least VELK_QENTRIX_TEXT_SIZE (104) bytes and receive a
 * zero-terminated answer line of at most 103 characters; date-and-time outputs need
 * VELK_QENTRIX_DATE_TIME_SIZE (22) bytes and receive "hh:mm:ss - MM/DD/YYYY" (UTC).
 *
 * Numbers are sent with "." as decimal point and six decimals, whatever the caller's locale.
 * One slot must not be used by two threads at once; different slots are independent.
 * Close every slot with Control_DeInit before unloading the library.
 */
#ifndef VELK_QENTRIX_CONTROL_H
#define VELK_QENTRIX_CONTROL_H

#include <stdint.h>

/* On Windows the functions use the Windows API calling convention (the callee removes the
 * arguments) and are exported from Velk_Qentrix_Control.dll by their plain names. */
#if defined(_WIN32)
#define VELK_QENTRIX_CALL __stdcall
#if defined(VELK_QENTRIX_BUILDING)
#define VELK_QENTRIX_API __declspec(dllexport)
#else
#define VELK_QENTRIX_API __declspec(dllimport)
#endif
#else
#define VELK_QENTRIX_CALL
#if defined(VELK_QENTRIX_BUILDING)
#define VELK_QENTRIX_API __attribute__((visibility("default")))
#else
#define VELK_QENTRIX_API
#endif
#endif

#define VELK_QENTRIX_TEXT_SIZE 104
#define VELK_QENTRIX_DATE_TIME_SIZE 22

#ifdef __cplusplus
extern "C" {
#endif

/* Connects slot (0..99) to Qentrix at host (host name or dotted IPv4 address) and port.
 * A slot that is still connected is closed first. Looking the name up and connecting give up
 * after 5 s together, or at once when Control_DeInit of the same slot is called from another
 * thread.
 * Returns 0 connected; 1 socket library not loadable, socket not created, name look-up
 * without an answer in time or abandoned, connect failed, timed out or abandoned, or reader
 * thread not started; 2 host neither resolvable nor a usable dotted address (every
 * dot-separated part must start with a digit; also a null host or a host with a
 * dot-separated part over 103 characters); 3 slot out of range. On failure the slot is free
 * and nothing was connected. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Init(int16_t slot, const char* host,
                                                        uint16_t port);

/* Closes the connection of slot (0..99) and waits for its reader thread to end. A call
 * waiting on the same slot in another thread gives up at once (result 1).
 * Out-of-range slots and free slots are ignored. Queued trigger values stay readable. */
VELK_QENTRIX_API void VELK_QENTRIX_CALL Control_DeInit(int16_t slot);

/* Current value of characteristic c (1..128) into *value. Range failure: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_GetActCharValue(int16_t slot, int16_t c,
                                                                   double* value);

/* Value number n (1..65535) of characteristic c (1..128) into *value. Range failure: 4. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_GetCharValue(int16_t slot, int16_t c, int32_t n,
                                                                double* value);

/* Number of stored values of characteristic c (1..128) into *count. Range failure: 4. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_GetCharValNum(int16_t slot, int16_t c,
                                                                 int32_t* count);

/* Last stored value of characteristic c (1..128) into *value: asks for the count, then for
 * value number (count mod 65536). Range failure: 4; count 0: 3 (no second request). */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_GetLastCharValue(int16_t slot, int16_t c,
                                                                    double* value);

/* Time of value number n (1..65535) of characteristic c (1..128) as date-and-time text into
 * text (22 bytes). Range failure: 4. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_GetCharDateTime(int16_t slot, int16_t c,
                                                                   int32_t n, char* text);

/* Time of the last stored value of characteristic c (1..128) into text (22 bytes).
 * Range failure: 4; count 0: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_GetLastCharDateTime(int16_t slot, int16_t c,
                                                                       char* text);

/* Content of register r (1..2000) into *value. Range failure: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_GetRegister(int16_t slot, uint16_t r,
                                                               double* value);

/* Sets register r (1..2000) to value. Range failure (also a value whose text exceeds 95
 * characters): 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_SetRegister(int16_t slot, uint16_t r,
                                                               double value);

/* Name of register r (1..2000) into name (104 bytes). Range failure: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_RegisterName(int16_t slot, uint16_t r,
                                                                    char* name);

/* Makes the test order name (at most 96 characters) the active one. Range failure: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_ChangeTestOrder(int16_t slot, const char* name);

/* Active test order, test scheme or test step into text (104 bytes). Range failure: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_ActTestOrder(int16_t slot, char* text);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_ActTestScheme(int16_t slot, char* text);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_ActTestStep(int16_t slot, char* text);

/* Name of characteristic c (1..128) into name (104 bytes). Range failure: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_CharName(int16_t slot, int16_t c,
                                                                char* name);

/* Sets data set d (1..30) of characteristic c (0..128) to text (at most 93 characters).
 * Range failure: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Set_RIDataSet(int16_t slot, int16_t d, int16_t c,
                                                                 const char* text);

/* Data set d (1..30) of characteristic c (0..128) into text (104 bytes). Range failure: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Read_RIDataSet(int16_t slot, int16_t d,
                                                                  int16_t c, char* text);

/* Nominal value, tolerance limits (USL, LSL), control limits (UCL, LCL) and masters of
 * characteristic c (1..128): the getters write *value, the setters send value.
 * Range failure: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_Nominal(int16_t slot, int16_t c,
                                                               float* value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Set_Nominal(int16_t slot, int16_t c,
                                                               float value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_USL(int16_t slot, int16_t c, float* value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Set_USL(int16_t slot, int16_t c, float value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_UCL(int16_t slot, int16_t c, float* value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Set_UCL(int16_t slot, int16_t c, float value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_LCL(int16_t slot, int16_t c, float* value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Set_LCL(int16_t slot, int16_t c, float value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_LSL(int16_t slot, int16_t c, float* value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Set_LSL(int16_t slot, int16_t c, float value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_Master1(int16_t slot, int16_t c,
                                                               float* value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Set_Master1(int16_t slot, int16_t c,
                                                               float value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_Master2(int16_t slot, int16_t c,
                                                               float* value);
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Set_Master2(int16_t slot, int16_t c,
                                                               float value);

/* Unit of characteristic c (1..128) into unit (104 bytes). Range failure: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_CharUnit(int16_t slot, int16_t c,
                                                                char* unit);

/* Sets the unit of characteristic c (1..128) to unit (at most 96 characters).
 * Range failure: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Set_CharUnit(int16_t slot, int16_t c,
                                                                const char* unit);

/* Statistical parameter p (any value; its low 8 bits are sent) of characteristic c (1..128)
 * into *value. Range failure: 3. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_StatParam(int16_t slot, int16_t c, int16_t p,
                                                                 double* value);

/* Oldest trigger value that Qentrix pushed on the slot into *number and *value, removed from
 * the slot's queue of 100 entries (a record arriving at a full queue is dropped). Works also
 * after the connection ended, until the next Control_Init of the slot.
 * Returns 0 taken; 1 queue empty; 3 slot out of range or a null pointer. */
VELK_QENTRIX_API int32_t VELK_QENTRIX_CALL Control_Get_GTrigVal(int16_t slot, int16_t* number,
                                                                double* value);

#ifdef __cplusplus
}
#endif

#endif
