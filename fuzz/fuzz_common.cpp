#include "fuzzhelpers.h"

#include <QtGlobal>
#include <ctime>

namespace {
void Silent(QtMsgType, const QMessageLogContext&, const QString&) {}
} // namespace

void Fuzz_Init()
{
    qInstallMessageHandler(Silent);
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
}
