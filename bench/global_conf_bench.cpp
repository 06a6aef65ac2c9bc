// Cost of reading global_conf once per request: from memory while the ini file is unchanged,
// against a full parse after every edit.
#include "app/config_factory.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>

namespace {

QTemporaryDir* work_dir = nullptr;

QByteArray ini_text(char variant)
{
    QByteArray text = "[GENERAL_SETTINGS]\n"
                      "GATEWEBFACE=DISABLE\nCHECK_TOKEN_VALID=ENABLE\nSTATISTIC_PERIOD=60\n"
                      "INDEX_REDIRECT=\"/a;/b;/c\"\nPATH_UI=/srv/ui\nSIGN_KEY=key_";
    text += variant;
    text += "\n[AMQP_API_SETTINGS]\nR_BINDINGS=\"nelqa.api:cmd.in.tolvik\"\n"
            "[QHTTP_SETTINGS]\nPORT=8001\n";
    return text;
}

void write_ini(const QString& path, char variant)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(ini_text(variant));
}

void BM_ReadGlobalConfUnchanged(benchmark::State& state)
{
    const QString path = work_dir->filePath("unchanged.ini");
    write_ini(path, 'a');
    // Let the file leave the recent-change window, so its stamp alone decides, as in service.
    QThread::msleep(config_factory::default_racy_window.count() + 100);
    const config_factory factory(path);
    for (auto _ : state)
        benchmark::DoNotOptimize(factory.read_global_conf());
}

void BM_ReadGlobalConfAfterEdit(benchmark::State& state)
{
    const QString path = work_dir->filePath("edited.ini");
    const config_factory factory(path);
    char variant = 'a';
    for (auto _ : state) {
        state.PauseTiming();
        variant = variant == 'a' ? 'b' : 'a';
        write_ini(path, variant);
        state.ResumeTiming();
        benchmark::DoNotOptimize(factory.read_global_conf());
    }
}

BENCHMARK(BM_ReadGlobalConfUnchanged);
BENCHMARK(BM_ReadGlobalConfAfterEdit);

// Prints the usual table and keeps each benchmark's time per iteration for the ratio.
class ratio_reporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    work_dir = &dir;
    benchmark::Initialize(&argc, argv);
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const auto cached = reporter.times.find("BM_ReadGlobalConfUnchanged");
    const auto parsed = reporter.times.find("BM_ReadGlobalConfAfterEdit");
    if (cached != reporter.times.end() && parsed != reporter.times.end() && cached->second > 0)
        std::printf("full parse / unchanged read: %.1fx\n", parsed->second / cached->second);
    benchmark::Shutdown();
    return 0;
}
