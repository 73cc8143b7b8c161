#include "platform/file_signals.h"

#include <signal.h>

void SetUpFileSignals() { signal(SIGXFSZ, SIG_IGN); }
