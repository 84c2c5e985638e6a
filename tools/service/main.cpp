// pelio-service: the reference web service for tests and the demo.
//   pelio-service [--data FILE] [--port N] [--host ADDRESS] [--files FOLDER] [--test]
// Port 0 (the default) picks a free port. --test also serves the misbehaving /_test/ endpoints (see
// ReferenceService.h); without it those paths answer 404. Prints "listening on HOST:PORT" once it
// serves, then runs until it is terminated. Without --data it says so on standard error and serves no
// company (the files, and with --test the test endpoints, still work); a malformed command line exits 2
// with the usage.
#include "ReferenceService.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <cstdio>

#include <unistd.h>

int main(int argc, char** argv) {
    // Runs until SIGTERM or SIGINT; the signals are blocked before any thread starts, so that every
    // thread inherits the mask and sigwait below receives them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    QCoreApplication app(argc, argv);
    QString dataFile, host = QStringLiteral("127.0.0.1"), files;
    int port = 0;
    bool usage = false, testEndpoints = false;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size() && !usage; ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--test")) {
            testEndpoints = true;
            continue;
        }
        const bool known = a == QLatin1String("--data") || a == QLatin1String("--port") ||
                           a == QLatin1String("--host") || a == QLatin1String("--files");
        if (!known || i + 1 >= args.size() || args[i + 1].isEmpty()) {
            usage = true;
            break;
        }
        const QString value = args[++i];
        if (a == QLatin1String("--data")) {
            dataFile = value;
        } else if (a == QLatin1String("--port")) {
            bool number = false;
            port = value.toInt(&number);
            usage = !number || port < 0 || port > 65535;
        } else if (a == QLatin1String("--host")) {
            host = value;
        } else {
            files = value;
        }
    }
    if (usage) {
        std::fprintf(stderr,
                     "usage: pelio-service [--data FILE] [--port N] [--host ADDRESS] [--files FOLDER] "
                     "[--test]\n"
                     "  --test  also serve the misbehaving /_test/ endpoints for tests\n");
        return 2;
    }
    QJsonObject data;
    if (!dataFile.isEmpty()) {
        QString error;
        data = pelio::tools::ReferenceService::LoadData(dataFile, &error);
        if (data.isEmpty()) {
            std::fprintf(stderr, "pelio-service: %s\n", qPrintable(error));
            return 1;
        }
    } else {
        // Still useful without data: the drop box files (and with --test the test endpoints) work alone.
        std::fputs("pelio-service: no --data given: serving no companies, agents or notices\n", stderr);
    }
    using pelio::tools::ReferenceService;
    ReferenceService service(
        data, files,
        testEndpoints ? ReferenceService::TestEndpoints::On : ReferenceService::TestEndpoints::Off);
    const int bound = service.Start(host, port);
    if (bound == 0) {
        std::fprintf(stderr, "pelio-service: cannot listen on %s:%d\n", qPrintable(host), port);
        return 1;
    }
    std::printf("listening on %s:%d\n", qPrintable(host), bound);
    std::fflush(stdout);

    int sig = 0;
    sigwait(&set, &sig);
    service.Stop();
    return 0;
}
