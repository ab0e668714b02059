// Signals of a long-running command. Interrupts (Ctrl-C, or a polite kill): once
// catchInterrupts() is called, they no longer end the process but raise a
// flag that the command's loops look at, so that it can stop what it does
// and remove its unfinished outputs. A second interrupt ends the process as
// usual, for a command that no longer looks.
#pragma once

namespace cdt {

// A command's exit status once an interrupt stopped it: the shells' own for
// a process ended by SIGINT (128 + 2).
inline constexpr int kInterruptedStatus = 130;

// Installs the handlers (SIGINT and SIGTERM on POSIX, unless the program was
// started with them ignored; the console's Ctrl-C, Ctrl-Break and close
// events on Windows). Idempotent.
void catchInterrupts();

// Whether an interrupt came since catchInterrupts().
bool interruptRequested();

// Makes a write past the process's file size limit (ulimit -f) fail with
// EFBIG, as a write to a full disk fails, instead of ending the process
// (SIGXFSZ): the program then reports it and removes its unfinished
// outputs. Nothing to do on Windows, which has no such limit.
void failWritesPastSizeLimit();

}  // namespace cdt
