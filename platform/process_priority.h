// The program's scheduling priority: a measuring program answers its clients at once, also
// while the machine is busy.
#pragma once

// Raises the process's priority (nice -10, or as far as the nice limit allows). Returns true
// when it was raised; otherwise says once on standard error that it stays normal and why.
bool RaiseProcessPriority();
