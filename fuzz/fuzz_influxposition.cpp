// Fuzz target: the InfluxDB output's position file (InfluxPosition_Parse), which the logger reads
// from its output folder at every start: anyone may have edited, cut or replaced it. The input
// is the file.
//
// Checked on the way: a refused file leaves the positions as they were; an accepted one names
// only day files, each once, with offsets from 0 to 15 digits, and what InfluxPosition_Format
// writes of it (in the order of the names) reads back to the same positions.
#include "fuzzhelpers.h"

#include "influxposition.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz_Init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    const QByteArray text(reinterpret_cast<const char*>(input.data()), int(input.size()));
    InfluxPositions positions{{QStringLiteral("untouched"), -1}};
    QString why;
    if (!InfluxPosition_Parse(text, &positions, &why)) {
        FUZZ_CHECK(!why.isEmpty() && positions.size() == 1 && positions.value(QStringLiteral("untouched")) == -1);
        return 0;
    }
    FUZZ_CHECK(positions.size() <= kInfluxPositionMaxFiles);
    for (auto it = positions.begin(); it != positions.end(); ++it) {
        DayFileName name;
        FUZZ_CHECK(Influx_ParseDayFileName(it.key(), &name) && name.day.isValid());
        FUZZ_CHECK(it.value() >= 0 && it.value() < 1000000000000000LL);
    }
    InfluxPositions again;
    FUZZ_CHECK(InfluxPosition_Parse(InfluxPosition_Format(positions), &again, &why) && again == positions);
    return 0;
}
