#include "app/commandline.h"

#include <cstdio>
#include <string_view>

#include "platform/console.h"
#include "platform/journal.h"
#include "platform/localipc.h"
#include "platform/version.h"

namespace {

const char UsageText[] = "Usage: tavrologin [/config]\n";
const char NetUseUsageText[] =
    "       tavrologin net use DRIVE: \\\\SERVER\\SHARE\n"
    "       tavrologin net use DRIVE: /delete\n"
    "       tavrologin net use \\\\SERVER\\SHARE\n"
    "       tavrologin net use\n";
const char AboutText[] =
    "\n"
    "Network logon client: logs you on to a file server of the chosen profile and\n"
    "runs its logon script.\n"
    "\n"
    "  /config, -config   open the configuration window at start (administrators)\n";
const char NetUseOptionText[] =
    "  net use ...        map, drop or list network drives through the running client\n"
    "                     (for logon scripts)\n";
const char SwitchesText[] =
    "  --help             show this text and end\n"
    "  --version          show the program version and end\n"
    "\n";

} // namespace

bool HandleInformationSwitches(int argc, char **argv)
{
    // Read before any application object exists: no display is needed.
    if (argc != 2)
        return false;
    const std::string_view argument = argv[1];
    if (argument != "--help" && argument != "--version")
        return false;
    // A program without a console of its own answers in the one it was started from.
    platform::UseParentConsole();
    if (argument == "--help") {
        // Where scripts map drives with the system's own net use, the client serves none.
        std::fputs(UsageText, stdout);
        if (platform::ServesNetUse)
            std::fputs(NetUseUsageText, stdout);
        std::fputs(AboutText, stdout);
        if (platform::ServesNetUse)
            std::fputs(NetUseOptionText, stdout);
        std::fputs(SwitchesText, stdout);
        std::printf("%s\n", platform::EventLogHint);
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
