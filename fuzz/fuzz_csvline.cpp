// Fuzz target: reading a line of a day file back (Csv_ParseLine), as the logger does with the
// files it finds on disk. The input is the line.
//
// Checked on the way: a refused line leaves the reading as it was; an accepted line written out
// again (Csv_Line) gives the same fields after the time, the same instant, and reads back to
// the same line; its local day exists.
#include "fuzzhelpers.h"

#include "csvformat.h"

#include <QList>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz_Init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    const QByteArray line(reinterpret_cast<const char*>(input.data()), int(input.size()));
    LoggerReading r;
    r.timeMs = -12345;
    r.model = "untouched";
    if (!Csv_ParseLine(line, &r)) {
        FUZZ_CHECK(r.timeMs == -12345 && r.model == "untouched");
        return 0;
    }
    FUZZ_CHECK(Csv_LocalDay(r.timeMs).isValid());
    const QByteArray written = Csv_Line(r);
    FUZZ_CHECK(written.endsWith('\n'));
    const QByteArray again = written.left(written.size() - 1);
    // The time is written in this host's zone, everything else as it was read.
    FUZZ_CHECK(again.mid(again.indexOf(',')) == line.mid(line.indexOf(',')));
    LoggerReading back;
    FUZZ_CHECK(Csv_ParseLine(again, &back));
    FUZZ_CHECK(back.timeMs == r.timeMs && Csv_Line(back) == written);
    return 0;
}
