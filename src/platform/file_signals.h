#pragma once

// Signals that bear on the files the engine writes.

// Ignores SIGXFSZ, so that a write past the file-size limit fails with EFBIG
// like any other failed write (the dump answers its error and removes its
// temporary file) instead of killing the process. Called once at start-up.
void SetUpFileSignals();
