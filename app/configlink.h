#pragma once

class TFormConfigure;
class TTavroNetLoginForm;

// Makes the configuration window the login window's: the Configure panel opens it, its
// errors reach the standard error box, and when it closes the login window shows
// itself, rebuilds its profile list, selects the start-up profile and focuses the
// user-name box.
void ConnectConfigureWindow(TTavroNetLoginForm &login, TFormConfigure &configure);
