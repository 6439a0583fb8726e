// Fuzz target: opening a record file (".str") as the open command does. The input is the file.
// Its channel is learnt with Trac_Read, then GRecordDataPro::OpenBinFile reads and converts it
// into a file store, the series is fitted and zoomed, and the store is saved again as a record
// file and as a text export.
//
// Checked on the way: a file is accepted exactly when its header is whole, its record area is
// there and its seconds per record are at least 1; an accepted file's records all reach the
// series; a refused file leaves the store as it was; saving and reading back gives the same
// records.
#include "fuzzhelpers.h"

#include "grecorddatapro.h"
#include "scodeusb.h"
#include "tracfile.h"

namespace {
int32_t LE32(const unsigned char* p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

// Whether the file should be accepted, from its bytes alone.
bool Acceptable(const unsigned char* file, size_t size)
{
    if (size < 20)
        return false;
    const size_t header = LE32(file + 4) == 1 ? 24 : 28;
    if (size < header)
        return false;
    const int64_t count = LE32(file + 8);
    if (count < 0 || count * 8 > int64_t(size - header))
        return false;
    return LE32(file + header - 4) >= 1;
}

void CheckShown(const _SRealData* s)
{
    FUZZ_CHECK(s->min_show >= 1);
    FUZZ_CHECK(s->m_ShowCount >= 0 && s->m_ShowCount <= s->show_pt_cnt);
    FUZZ_CHECK(s->m_ShowCount <= s->m_DataCount);
}

void CheckSavedCopy(GRecordDataPro& store, int channel)
{
    static MemFile copy;
    const _STracFile* t = store.m_pTrac;
    const int n = store.SaveBinFile(QString::fromStdString(copy.path()), channel);
    if (t->used <= 0) {
        FUZZ_CHECK(n == -1);
        return;
    }
    FUZZ_CHECK(n == t->used);
    _STracFile* back = Trac_Create();
    FUZZ_CHECK(Trac_Read(back, copy.path().c_str()) == n);
    FUZZ_CHECK(back->count == n && back->used == n && back->channel == channel);
    FUZZ_CHECK(back->start_time == t->start_time && back->sec_per_record == t->sec_per_record);
    FUZZ_CHECK(memcmp(back->records, t->records, sizeof(_STracRecord) * size_t(n)) == 0);
    Trac_Destroy(back);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz_Init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    static MemFile file;
    file.Write(input.data(), input.size());
    const QString path = QString::fromStdString(file.path());

    // The channel decides the scale, as in the open command.
    _STracFile* probe = Trac_Create();
    const int read = Trac_Read(probe, file.path().c_str());
    const int gas = read >= 0 && probe->channel != 0 ? 1 : 0;
    Trac_Destroy(probe);

    GRecordDataPro store;
    const bool opened = store.OpenBinFile(path, gas);
    FUZZ_CHECK(opened == Acceptable(input.data(), input.size()));
    _SRealData* s = store.m_pRealData;
    if (!opened) {
        FUZZ_CHECK(s->m_DataCount == 0 && store.m_pTrac->records == nullptr && !store.m_StartTime.isValid());
        return 0;
    }

    // Every record reaches the series: particulate values as whole ug/m3, gas values in mg/m3
    // with their thousandths.
    const _STracFile* t = store.m_pTrac;
    FUZZ_CHECK(s->m_DataCount == t->count);
    FUZZ_CHECK(s->m_DataSecUnit == t->sec_per_record);
    for (int i = 0; i < t->count; ++i) {
        const _STracRecord& r = t->records[i];
        FUZZ_CHECK(s->m_pValue1[i] == (gas ? r.value1 / 1000.0 : double(r.value1 / 10)));
        FUZZ_CHECK(s->m_pValue2[i] == (gas ? r.value2 / 1000.0 : double(r.value2 / 10)));
    }

    store.UpdateStartFields();
    RealData_FitAll(s);
    CheckShown(s);
    for (int k = 0; k < 4; ++k) {
        RealData_ZoomIn(s);
        CheckShown(s);
    }
    for (int k = 0; k < 6; ++k) {
        RealData_ZoomOut(s);
        CheckShown(s);
    }

    CheckSavedCopy(store, gas);
    static MemFile text;
    SCodeUsb codec;
    FUZZ_CHECK(store.SaveTextFile(codec, QString::fromStdString(text.path()), 1, 300, 2 - gas, nullptr, nullptr));
    return 0;
}
