// Builds the full inventory document (every section) a few times on this machine and
// prints the wall time of each run, the fastest run and the peak memory of the process.
#include "invprobe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace
{

constexpr int kDefaultRuns = 3;
constexpr int kMaxRuns = 50;

using Probe = int (*)(QString &);

struct Section {
    const char *name;
    Probe probe;
};

// The sections of a document with every selection character "1", in document order.
const Section kSections[] = {
    {"hardware", query_hardware},
    {"printers", query_printers},
    {"network adapters", query_network_adapters},
    {"disk monitor", [](QString &t) { return monitor_disk(t, false); }},
    {"installed packages", query_Registry_software},
    {"processes", query_process},
    {"cpu monitor", [](QString &t) { return monitor_cpu(t, false); }},
    {"memory monitor", [](QString &t) { return monitor_memory(t, false); }},
    {"os objects", monitor_os_objects},
    {"network monitor", monitor_network},
    {"batteries", monitor_battery},
    {"services", query_os_services},
    {"start-up", query_startUp_applications},
    {"environment", query_environment_variables},
    {"updates", query_updates},
    {"users", query_users},
    {"shares", query_shares}};

QString fullDocument(int &failures, bool verbose)
{
    QString document = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><document>");
    for (const Section &section : kSections) {
        QString part;
        QElapsedTimer timer;
        timer.start();
        if (section.probe(part) != 0) {
            ++failures;
            std::fprintf(stderr, "section %s failed: %s\n", section.name, qPrintable(part));
            continue;
        }
        if (verbose)
            std::fprintf(stderr, "%-20s %6lld ms %9d bytes\n", section.name,
                         static_cast<long long>(timer.elapsed()), int(part.size()));
        document += part;
    }
    document += QLatin1String("</document>");
    return document;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int runs = kDefaultRuns;
    QString output;
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--runs") && i + 1 < args.size())
            runs = qBound(1, args.at(++i).toInt(), kMaxRuns);
        else if (args.at(i) == QLatin1String("--output") && i + 1 < args.size())
            output = args.at(++i);
    }

    QVector<qint64> times;
    int failures = 0;
    QByteArray document;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        document = fullDocument(failures, run == runs - 1).toUtf8();
        times.append(timer.elapsed());
        std::fprintf(stderr, "run %d: %lld ms, %d bytes\n", run + 1,
                     static_cast<long long>(times.last()), int(document.size()));
    }
    if (!output.isEmpty()) {
        QFile file(output);
        if (file.open(QIODevice::WriteOnly))
            file.write(document);
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "fastest: %lld ms\npeak memory: %ld KiB\nfailed sections: %d\n",
                 static_cast<long long>(*std::min_element(times.begin(), times.end())),
                 usage.ru_maxrss, failures);
    return failures == 0 ? 0 : 1;
}
