// The listeners' threads give way to serving: they run at a lower scheduling priority than the
// program's serving thread, so that on a busy machine answers keep their pace.
#pragma once

// Lowers the calling thread's priority by 10 nice steps (at most to 19). Failing (it should
// not: lowering is always allowed) leaves it as it was.
void LowerListenerPriority();
