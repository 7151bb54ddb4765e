// ReadProfile and WriteProfile of one profile, as medians over repetitions.
// The data folder is TAVROLOGIN_COMMON_APPDATA when set, else a fresh temp folder.
#include "config/inifile.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

const QString Profile = QStringLiteral("Bench Profile.ini");

void FillProfile(int round)
{
    const QString n = QString::number(round);
    ProfileSettings = {"SRV" + n, "LOGON.BAT", "REMOTE" + n, "/opt/tavrologin/bg" + n + ".bmp",
                       QString::number(round % 60), QString::number(round % 2),
                       "Remote session " + n + "\nPlease log off when done.", "NETLOGON_V2"};
}

void BM_ReadProfile(benchmark::State &state)
{
    FillProfile(0);
    WriteProfile(Profile);
    for (auto _ : state) {
        ReadProfile(Profile);
        benchmark::DoNotOptimize(ProfileSettings.ProfileServer);
    }
}

// Every field changes, so each call replaces the file once per key (eight atomic writes).
void BM_WriteProfile(benchmark::State &state)
{
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FillProfile(++round);
        state.ResumeTiming();
        WriteProfile(Profile);
    }
}

// The common edit: one field changes, the seven unchanged keys cause no write.
void BM_WriteProfileOneChange(benchmark::State &state)
{
    FillProfile(0);
    WriteProfile(Profile);
    int round = 0;
    for (auto _ : state) {
        ProfileSettings.ProfileAutoLogoffTime = QString::number(++round % 2);
        WriteProfile(Profile);
    }
}

BENCHMARK(BM_ReadProfile)->Unit(benchmark::kMicrosecond)->Repetitions(15)->ReportAggregatesOnly(true);
BENCHMARK(BM_WriteProfile)->Unit(benchmark::kMicrosecond)->Repetitions(15)->ReportAggregatesOnly(true);
BENCHMARK(BM_WriteProfileOneChange)->Unit(benchmark::kMicrosecond)->Repetitions(15)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir tmp;
    if (qEnvironmentVariableIsEmpty("TAVROLOGIN_COMMON_APPDATA"))
        qputenv("TAVROLOGIN_COMMON_APPDATA", tmp.path().toLocal8Bit());
    SetProfileDefaults();
    SetAppDefaults();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
