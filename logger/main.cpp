// vostral-logger: records a sensor's readings around the clock.
// Exit codes: 0 stopped by SIGTERM/SIGINT (or --help, --version), 1 runtime failure (the folder
// cannot be created, another logger records into it), 2 bad options.
#include "loggerapp.h"
#include "loggeroptions.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

int main(int argc, char* argv[])
{
    // A broker that goes away mid-write must not end the program: write() says so instead.
    signal(SIGPIPE, SIG_IGN);
    // The few patterns the logger matches (folder listings) run a handful of times a minute: the
    // regular-expression JIT's code and stacks would cost a small board memory for no gain.
    qputenv("QT_ENABLE_REGEXP_JIT", "0");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vostral-logger"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VOSTRAL_VERSION));

    LoggerOptions options;
    QString message;
    switch (Logger_ParseOptions(QCoreApplication::arguments(), &options, &message)) {
    case LoggerParse::Help:
    case LoggerParse::Version:
        fprintf(stdout, "%s\n", qPrintable(message));
        return 0;
    case LoggerParse::Usage:
        fprintf(stderr, "vostral-logger: %s\nTry 'vostral-logger --help'.\n", qPrintable(message));
        return 2;
    case LoggerParse::Run:
        break;
    }

    LoggerApp logger(options);
    QString error;
    if (!logger.Start(&error)) {
        fprintf(stderr, "vostral-logger: %s\n", qPrintable(error));
        return 1;
    }
    return app.exec();
}
