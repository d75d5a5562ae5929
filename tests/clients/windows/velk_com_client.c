// A Windows serial client for the simulated ports, run under Wine by the tests: it drives
// one port through the Win32 calls that measuring software uses and prints one line per step,
// "ok STEP ..." or "FAIL STEP ...", then the round-trip figures. Exit status 0 when every
// step passed, 1 otherwise, 2 on wrong arguments.
//
// usage: velk-com-client PORT COMMAND ANSWER [ROUND-TRIPS]
//   sends COMMAND followed by CR and expects ANSWER followed by CR LF, both synchronously and
//   event-driven; after "waiting for foot switch" it expects ANSWER to arrive unasked.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

enum { kDtr = 1, kRts = 2 };

static int failures;

static void Report(BOOL passed, const char* step, const char* detail) {
  printf("%s %s %s\n", passed ? "ok" : "FAIL", step, detail);
  fflush(stdout);
  if (!passed) ++failures;
}

static void ReportError(const char* step, const char* call) {
  char detail[160];
  snprintf(detail, sizeof detail, "%s failed with error %lu", call, GetLastError());
  Report(FALSE, step, detail);
}

static double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return (double)(to.QuadPart - from.QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

// Sets baud rate and frame, then reads them back.
static void SetFrame(HANDLE port, BYTE bits, BYTE parity, const char* step) {
  DCB dcb = {.DCBlength = sizeof dcb};
  if (!GetCommState(port, &dcb)) return ReportError(step, "GetCommState");
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = bits;
  dcb.Parity = parity;
  dcb.fParity = parity != NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (!SetCommState(port, &dcb)) return ReportError(step, "SetCommState");
  DCB back = {.DCBlength = sizeof back};
  if (!GetCommState(port, &back)) return ReportError(step, "GetCommState");
  char detail[96];
  snprintf(detail, sizeof detail, "read back %lu baud, %u data bits, parity %u, stop bits %u",
           back.BaudRate, back.ByteSize, back.Parity, back.StopBits);
  Report(back.ByteSize == bits && back.Parity == parity && back.StopBits == ONESTOPBIT &&
             back.BaudRate == CBR_9600,
         step, detail);
}

// Each escape function must take effect on the lines, which Wine reports in GetCommState as
// fDtrControl and fRtsControl (enabled when the line is on).
static void SwitchLines(HANDLE port) {
  static const struct {
    DWORD function;
    const char* name;
    ULONG lines;
  } kCases[] = {
      {SETDTR, "SETDTR", kDtr | kRts},
      {CLRDTR, "CLRDTR", kRts},
      {CLRRTS, "CLRRTS", 0},
      {SETRTS, "SETRTS", kRts},
      {SETDTR, "SETDTR", kDtr | kRts},
      {SETBREAK, "SETBREAK", kDtr | kRts},
      {CLRBREAK, "CLRBREAK", kDtr | kRts},
  };
  for (size_t i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    char detail[96];
    if (!EscapeCommFunction(port, kCases[i].function)) {
      snprintf(detail, sizeof detail, "EscapeCommFunction(%s)", kCases[i].name);
      ReportError("escape", detail);
      continue;
    }
    DCB dcb = {.DCBlength = sizeof dcb};
    const BOOL got = GetCommState(port, &dcb);
    const ULONG lines = (dcb.fDtrControl == DTR_CONTROL_ENABLE ? kDtr : 0) |
                        (dcb.fRtsControl == RTS_CONTROL_ENABLE ? kRts : 0);
    snprintf(detail, sizeof detail, "%s: lines %lu (want %lu)%s", kCases[i].name, lines,
             kCases[i].lines, got ? "" : ", GetCommState failed");
    Report(got && lines == kCases[i].lines, "escape", detail);
  }
}

static void ModemStatus(HANDLE port) {
  DWORD status = 0;
  if (!GetCommModemStatus(port, &status)) return ReportError("modem-status", "GetCommModemStatus");
  char detail[64];
  snprintf(detail, sizeof detail, "0x%02lx", status);
  Report(status == (MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON), "modem-status", detail);
}

// Writes all bytes on an overlapped handle.
static BOOL Write(HANDLE port, const char* bytes, DWORD count) {
  OVERLAPPED done = {.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL)};
  DWORD written = 0;
  BOOL ok =
      WriteFile(port, bytes, count, &written, &done) ||
      (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(port, &done, &written, TRUE));
  CloseHandle(done.hEvent);
  return ok && written == count;
}

// Reads what is waiting (after EV_RXCHAR) onto text, which has room for size bytes.
static BOOL ReadWaiting(HANDLE port, char* text, DWORD* length, DWORD size) {
  COMSTAT stat;
  DWORD errors;
  if (!ClearCommError(port, &errors, &stat)) return FALSE;
  DWORD want = stat.cbInQue < size - *length ? stat.cbInQue : size - *length;
  if (want == 0) return TRUE;
  OVERLAPPED done = {.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL)};
  DWORD got = 0;
  BOOL ok = ReadFile(port, text + *length, want, &got, &done) ||
            (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(port, &done, &got, TRUE));
  CloseHandle(done.hEvent);
  *length += got;
  return ok;
}

// Starts a WaitCommEvent, then writes command (when not NULL) while it waits, and reads until
// answer has arrived or wait_ms passed. Every event reported must be EV_RXCHAR, whatever else
// the mask asks for. Counts the waits that were pending in *pending.
static BOOL AwaitAnswer(HANDLE port, const char* command, const char* answer, DWORD wait_ms,
                        char* text, int* pending) {
  const DWORD size = (DWORD)strlen(answer);
  DWORD length = 0;
  const DWORD start = GetTickCount();
  OVERLAPPED done = {.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL)};
  BOOL ok = TRUE;
  while (ok && length < size) {
    DWORD events = 0;
    DWORD ignored;
    ResetEvent(done.hEvent);
    const BOOL at_once = WaitCommEvent(port, &events, &done);
    const BOOL waiting = !at_once && GetLastError() == ERROR_IO_PENDING;
    ok = at_once || waiting;
    if (command != NULL) {
      ok = ok && Write(port, command, (DWORD)strlen(command));
      command = NULL;
    }
    if (waiting) {
      ++*pending;
      const DWORD left = wait_ms - (GetTickCount() - start);
      ok = ok && (LONG)left > 0 && WaitForSingleObject(done.hEvent, left) == WAIT_OBJECT_0 &&
           GetOverlappedResult(port, &done, &ignored, FALSE);
    }
    if (!ok) {
      printf("  WaitCommEvent ended with error %lu after %lu ms\n", GetLastError(),
             GetTickCount() - start);
      if (waiting) {
        SetCommMask(port, EV_RXCHAR);  // ends a wait still pending
        GetOverlappedResult(port, &done, &ignored, TRUE);
      }
    }
    ok = ok && events == EV_RXCHAR && ReadWaiting(port, text, &length, size);
  }
  CloseHandle(done.hEvent);
  text[length] = '\0';
  return ok && strcmp(text, answer) == 0;
}

static void SynchronousRequest(const char* name, const char* command, const char* answer) {
  HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (port == INVALID_HANDLE_VALUE) return ReportError("open", "CreateFile");
  Report(TRUE, "open", name);
  // A COM port has one client: a second open fails, as on Windows.
  HANDLE second = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  char busy[64];
  snprintf(busy, sizeof busy, "refused with error %lu", GetLastError());
  Report(second == INVALID_HANDLE_VALUE, "second-open",
         second == INVALID_HANDLE_VALUE ? busy : "opened");
  if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
  PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
  SetFrame(port, 8, NOPARITY, "frame-8N1");
  SetFrame(port, 7, EVENPARITY, "frame-7E1");
  SwitchLines(port);
  ModemStatus(port);
  COMMTIMEOUTS timeouts = {.ReadIntervalTimeout = 100,
                           .ReadTotalTimeoutConstant = 5000,
                           .WriteTotalTimeoutConstant = 5000};
  SetCommTimeouts(port, &timeouts);
  const size_t size = strlen(answer);
  char text[256] = "";
  DWORD written = 0;
  DWORD length = 0;
  LARGE_INTEGER from, to;
  QueryPerformanceCounter(&from);
  BOOL ok = WriteFile(port, command, (DWORD)strlen(command), &written, NULL);
  while (ok && length < size) {
    DWORD got = 0;
    ok = ReadFile(port, text + length, (DWORD)(size - length), &got, NULL) && got > 0;
    length += got;
  }
  QueryPerformanceCounter(&to);
  text[length] = '\0';
  char detail[64];
  snprintf(detail, sizeof detail, "answered in %.2f ms", Milliseconds(from, to));
  Report(ok && strcmp(text, answer) == 0, "sync-request", ok ? detail : "no answer");
  CloseHandle(port);
}

static void EventDrivenRequests(const char* name, const char* command, const char* answer,
                                int round_trips) {
  HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, NULL);
  if (port == INVALID_HANDLE_VALUE) return ReportError("open-overlapped", "CreateFile");
  PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
  COMMTIMEOUTS timeouts = {.ReadIntervalTimeout = MAXDWORD};
  SetCommTimeouts(port, &timeouts);
  SetCommMask(port, EV_RXCHAR);
  double least = 1e9, most = 0, total = 0;
  int passed = 0;
  int pending = 0;
  char text[256];
  for (int i = 0; i < round_trips; ++i) {
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    if (!AwaitAnswer(port, command, answer, 5000, text, &pending)) continue;
    QueryPerformanceCounter(&to);
    const double ms = Milliseconds(from, to);
    least = ms < least ? ms : least;
    most = ms > most ? ms : most;
    total += ms;
    ++passed;
  }
  char detail[160];
  snprintf(detail, sizeof detail,
           "%d of %d answered, %d waits pending; ms min %.2f avg %.2f max %.2f", passed,
           round_trips, pending, passed ? least : 0.0, passed ? total / passed : 0.0, most);
  Report(passed == round_trips && pending >= round_trips, "event-round-trips", detail);

  // Lines that never change must not end or spoil the wait.
  SetCommMask(port, EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_RING);
  printf("waiting for foot switch\n");
  fflush(stdout);
  Report(AwaitAnswer(port, NULL, answer, 30000, text, &pending), "foot-switch",
         "value arrived unasked");
  CloseHandle(port);
}

// velk-wine enters the port into the Wine prefix's registry.
static void RegistryEntry(const char* name) {
  char value[1024];
  DWORD size = sizeof value;
  const char* com = strrchr(name, '\\') ? strrchr(name, '\\') + 1 : name;
  LONG result = RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Wine\\Ports", com, RRF_RT_REG_SZ, NULL,
                             value, &size);
  Report(result == ERROR_SUCCESS, "registry", result == ERROR_SUCCESS ? value : "no entry");
}

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    fprintf(stderr, "usage: velk-com-client PORT COMMAND ANSWER [ROUND-TRIPS]\n");
    return 2;
  }
  char name[64];
  char command[128];
  char answer[128];
  snprintf(name, sizeof name, "\\\\.\\%s", argv[1]);
  snprintf(command, sizeof command, "%s\r", argv[2]);
  snprintf(answer, sizeof answer, "%s\r\n", argv[3]);
  const int round_trips = argc == 5 ? atoi(argv[4]) : 20;
  if (round_trips < 1) {
    fprintf(stderr, "velk-com-client: ROUND-TRIPS must be a number from 1\n");
    return 2;
  }
  RegistryEntry(argv[1]);
  SynchronousRequest(name, command, answer);
  EventDrivenRequests(name, command, answer, round_trips);
  printf("%s\n", failures == 0 ? "all steps passed" : "some steps failed");
  return failures == 0 ? 0 : 1;
}
