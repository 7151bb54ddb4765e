#pragma once

// The window thread's message loop as the long waits see it.
namespace platform {

// Dispatch every pending window message of the calling thread once and return.
void ProcessMessages();

// The application has been asked to end (the waits stop on it).
bool Terminated();
// Ask the application to end: the flag is set at once, the loop ends when it next runs.
void Terminate();

// Whether the main window is shown once start-up completes (true unless a copy that
// must not run clears it).
bool ShowMainForm();
void SetShowMainForm(bool show);

} // namespace platform
