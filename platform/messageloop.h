#pragma once

// The window thread's message loop as the long waits see it.
namespace platform {

// Dispatch every pending window message of the calling thread once and return.
void ProcessMessages();

// The application has been asked to end (the waits stop on it).
bool Terminated();
// Ask the application to end: the flag is set at once, the loop ends when it next runs.
void Terminate();

} // namespace platform
