#pragma once

class TFormConfigure;
class TTavroNetLoginForm;

// Makes the configuration window the login window's: the Configure panel opens it, its
// errors reach the standard error box, and when it closes the login window shows
// itself, rebuilds its profile list, selects the start-up profile and focuses the
// user-name box.
void ConnectConfigureWindow(TTavroNetLoginForm &login, TFormConfigure &configure);

// The program's way: what the configuration window's creation reads is read now, the
// window is built, hidden, when it is first shown (a child of the login window, it dies
// with it). An error of the reading is shown now, as the creation would show it.
void ConnectConfigureWindowLater(TTavroNetLoginForm &login);
