// Puts the data folder's first-start files in place at installation, by the same store
// code the program runs on its first start, from the program's own folder (so the
// default background and the recorded version are the installed program's).
#include <cstdio>

#include "config/inifile.h"
#include "platform/errors.h"

int main()
{
    try {
        SetProfileDefaults();
        SetAppDefaults();
        LoadAppSettings();
        ReadProfile(AppSettings.AppDefaultProfile);
    } catch (...) {
        std::fprintf(stderr, "tavrologin-datafolder: %s\n",
                     ExceptionMessage(std::current_exception()).toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
