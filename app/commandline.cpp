#include "app/commandline.h"

#include <cstdio>
#include <string_view>

#include "platform/version.h"

namespace {

const char HelpText[] =
    "Usage: tavrologin [/config]\n"
    "       tavrologin net use DRIVE: \\\\SERVER\\SHARE\n"
    "       tavrologin net use DRIVE: /delete\n"
    "       tavrologin net use \\\\SERVER\\SHARE\n"
    "       tavrologin net use\n"
    "\n"
    "Network logon client: logs you on to a file server of the chosen profile and\n"
    "runs its logon script.\n"
    "\n"
    "  /config, -config   open the configuration window at start (administrators)\n"
    "  net use ...        map, drop or list network drives through the running client\n"
    "                     (for logon scripts)\n"
    "  --help             show this text and end\n"
    "  --version          show the program version and end\n"
    "\n"
    "Logons, log-offs and errors go to the system journal: journalctl -t tavrologin\n";

} // namespace

bool HandleInformationSwitches(int argc, char **argv)
{
    // Read before any application object exists: no display is needed.
    if (argc != 2)
        return false;
    const std::string_view argument = argv[1];
    if (argument == "--help") {
        std::fputs(HelpText, stdout);
        return true;
    }
    if (argument == "--version") {
        const platform::FileVersion v = platform::RunningVersion();
        std::printf("tavrologin %u.%u.%u.%u\n", unsigned(v.major), unsigned(v.minor), unsigned(v.release),
                    unsigned(v.build));
        return true;
    }
    return false;
}
