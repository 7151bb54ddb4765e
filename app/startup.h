#pragma once

#include <memory>

class TTavroNetLoginForm;

// The program's windows, as a start leaves them: the login window, which owns the
// configuration window once that is built.
struct TLoginClient {
    std::unique_ptr<TTavroNetLoginForm> form;
};

// Everything the program does between its application object and its message loop, in
// the order a start requires: the settings' start values, the login window (the single-
// instance guard acts while it is built), the configuration window's creation, and the
// login window shown unless the guard ends this copy. No form when the login window
// could not be built; its error has been shown.
TLoginClient StartLoginClient();
