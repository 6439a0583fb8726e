// A record container as the bytes of its record file, so that the file can be written in one
// go by Atomic_WriteFile. Same layout as Trac_Write: a 28-byte little-endian header ("TRAC",
// version 3, count, used, start_time, channel, sec_per_record), then the used records.
#include "runrecorder.h"

#include <algorithm>

namespace {
constexpr int kHeaderBytes = 28;

void PutLE16(char* p, uint16_t v)
{
    p[0] = char(v & 0xff);
    p[1] = char(v >> 8);
}

void PutLE32(char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xff);
}
} // namespace

QByteArray Trac_ToBytes(const _STracFile* t, int channel)
{
    const int n = t->records ? std::max(0, std::min(t->used, t->records_capacity)) : 0;
    QByteArray out(kHeaderBytes + 8 * n, '\0');
    char* p = out.data();
    PutLE32(p, kTracMagic);
    PutLE32(p + 4, kTracVersion);
    PutLE32(p + 8, uint32_t(n));
    PutLE32(p + 12, uint32_t(n));
    PutLE32(p + 16, t->start_time);
    PutLE32(p + 20, uint32_t(channel));
    PutLE32(p + 24, uint32_t(t->sec_per_record));
    for (int i = 0; i < n; ++i) {
        const _STracRecord& r = t->records[i];
        char* q = p + kHeaderBytes + 8 * i;
        PutLE16(q, r.extra1);
        PutLE16(q + 2, r.extra2);
        PutLE16(q + 4, r.value1);
        PutLE16(q + 6, r.value2);
    }
    return out;
}
