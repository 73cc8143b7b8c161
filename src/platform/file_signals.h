#pragma once
#include <cstdint>
#include <string>

// Signals that bear on the files the engine writes. A writer fills a temporary
// file, ".tdx<pid>-<serial>.part" in its target's folder, before renaming it
// over the target; a signal that ends the engine removes the live ones first.

// Ignores SIGXFSZ, so that a write past the file-size limit fails with EFBIG
// like any other failed write instead of killing the process. Makes SIGTERM,
// SIGINT and SIGHUP remove the live temporary files and then end the process
// as they would have; one inherited as ignored (nohup) stays ignored. Called
// once at start-up.
void SetUpFileSignals();

// A serial of this process's own for the next temporary file, and its name.
uint32_t NextTemporarySerial();
std::string TemporaryFileName(uint32_t serial);

// Records the temporary file of `serial` just created in the folder
// `folder_fd`, which stays open until the record is dropped. The slot of the
// record, or -1 when every slot is taken (that file then stays on a signal).
int RecordTemporaryFile(int folder_fd, uint32_t serial);
// Drops the record once its file was renamed or removed; -1 does nothing.
void DropTemporaryFile(int slot);
