// The listeners' threads give way to serving: they run only on what CPU time serving and the
// rest of the machine leave, so that on a busy machine answers keep their pace.
#pragma once

// Puts the calling thread into the idle scheduling class (it runs when nothing else wants the
// core); where that is refused, lowers it to nice 19. Failing both leaves it as it was.
void LowerListenerPriority();
