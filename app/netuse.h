#pragma once

// `tavrologin net use ...` for logon scripts: asks the running copy and prints its
// answer. Returns the exit code, or -1 when the arguments are not a net use command.
int RunNetUseCommand(int argc, char **argv);
