#pragma once
// Ctrl+C during watch: noted rather than obeyed at once, so the watch can finish its sample,
// release the board and exit 0. A second Ctrl+C ends the program the usual way, for a watch
// stuck beyond hope. One implementation per system family behind these two calls.

namespace tarnovid::ctl {

// From now on Ctrl+C (and, where the system has one, a polite request to terminate) is noted.
// Clears an earlier note.
void catchInterrupts();

// Whether one has been noted since catchInterrupts().
bool interruptRequested();

} // namespace tarnovid::ctl
