#include "tracfile.h"

#include "zeroblock.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <utility>

namespace {
size_t BufferBytes(int records)
{
    return sizeof(_STracRecord) * size_t(std::max(records, 0));
}

void ReleaseBuffer(_STracFile* t)
{
    ZeroBlock_Free(t->records, BufferBytes(t->records_capacity));
    t->records = nullptr;
    t->records_capacity = 0;
}

void ResetSequence(_STracFile* t)
{
    t->next_index = 0;
    t->seq_per_record = 1;
    t->seq_phase = 0;
}

// Halves the resolution because record `trigger` would make more than kTracCompactLimit used:
// record k takes record 2k for every record before the trigger, and the slots after the moved
// ones are cleared so that no record of the old resolution is left behind.
void Compact(_STracFile* t, int trigger)
{
    _STracRecord* r = t->records;
    for (int k = 1; 2 * k < trigger; ++k)
        r[k] = r[2 * k];
    const int firstFree = (trigger + 1) / 2;
    ZeroBlock_Clear(r, BufferBytes(firstFree), BufferBytes(t->records_capacity));
    t->sec_per_record *= 2;
    // used is halved with the records; the caller then counts the trigger in at its new index.
}
} // namespace

_STracFile* Trac_Create()
{
    auto* t = static_cast<_STracFile*>(calloc(1, sizeof(_STracFile)));
    if (!t)
        return nullptr;
    t->magic = kTracMagic;
    t->version = kTracVersion;
    t->count = kTracCapacity;
    t->sec_per_record = 1;
    ResetSequence(t);
    return t;
}

bool Trac_Alloc(_STracFile* t, int n)
{
    if (n < 0)
        return false;
    void* fresh = ZeroBlock_Alloc(BufferBytes(n));
    if (n > 0 && !fresh)
        return false;
    ReleaseBuffer(t);
    t->records = static_cast<_STracRecord*>(fresh);
    t->records_capacity = n;
    t->count = n;
    t->used = 0;
    ResetSequence(t);
    return true;
}

int Trac_Add(_STracFile* t, uint16_t extra1, uint16_t extra2, uint16_t value1, uint16_t value2, int index)
{
    // Work on copies of the sequence state: a refused append must leave the container as it was.
    const bool fresh = t->records == nullptr;
    int nextIndex = fresh ? 0 : t->next_index;
    int phase = fresh ? 0 : t->seq_phase;
    int perRecord = fresh ? 1 : std::max(t->seq_per_record, 1);
    const bool sequential = index == -1;

    int64_t i;
    if (sequential) {
        i = nextIndex;
    } else {
        if (t->sec_per_record < 1)
            return -1;
        i = index / t->sec_per_record;
    }
    const int capacity = fresh ? t->count : std::min(t->count, t->records_capacity);
    if (i < 0 || i + 1 > capacity)
        return -1;
    const bool compacts = i + 1 > kTracCompactLimit;
    if (compacts && (t->sec_per_record > INT_MAX / 2 || perRecord > INT_MAX / 2))
        return -1; // the resolution cannot be halved any further

    if (fresh) {
        if (!Trac_Alloc(t, t->count))
            return -1;
    }

    // The sequential position in append units: record next_index, seq_phase appends into it.
    // For a sequential append this is the append itself.
    const int64_t tick = int64_t(nextIndex) * perRecord + phase;
    if (compacts) {
        Compact(t, int(i));
        perRecord *= 2;
        i = sequential ? tick / perRecord : i / 2;
        // The next sequential append keeps its place in time (next_index is halved).
        nextIndex = int(tick / perRecord);
        phase = int(tick % perRecord);
    }

    bool store = true;
    if (sequential) {
        // Of the appends sharing a record, the first describes the record's time.
        store = phase == 0;
        if (++phase >= perRecord) {
            phase = 0;
            nextIndex = int(i) + 1;
        }
    }
    if (store)
        t->records[i] = _STracRecord{extra1, extra2, value1, value2};
    // The last append decides used, also when it is lower than before.
    t->used = int(i) + 1;
    t->next_index = nextIndex;
    t->seq_phase = phase;
    t->seq_per_record = perRecord;
    return int(i);
}

void Trac_Free(_STracFile* t)
{
    ReleaseBuffer(t);
    t->magic = 0;
    t->version = 0;
    t->count = 0;
    t->used = 0;
    t->start_time = 0;
}

void Trac_Destroy(_STracFile* t)
{
    if (!t)
        return;
    ReleaseBuffer(t);
    free(t);
}

void Trac_Swap(_STracFile* a, _STracFile* b)
{
    std::swap(*a, *b);
}
