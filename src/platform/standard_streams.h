#pragma once

// Standard streams as a subprocess engine finds them. A client may start the
// engine with a descriptor closed, or go away while the engine still writes.

// Puts /dev/null on any of descriptors 0, 1 and 2 that is closed, so that no
// file the engine opens later (a script, a redirection, a tree file) takes its
// number and receives replies or is read as commands; and ignores SIGPIPE, so
// a write to a reader that has gone fails like any other write. Returns true
// when standard input was closed: the read loop then reports that as a read
// error instead of reading the /dev/null put in its place.
bool GuardStandardStreams();
