#pragma once
// Record container (a fixed-capacity array of 8-byte records with sequential or indexed
// appends) and the record file ".str" that stores one: a 28-byte header ("TRAC", version,
// count, used, start_time, channel, sec_per_record) followed by the records, little-endian.
#include <cstdint>

enum : uint32_t {
    kTracMagic = 0x43415254u, // "TRAC" as a little-endian word
};

enum {
    kTracCapacity = 1209712,    // records per container
    kTracCompactLimit = 1209600, // more used records than this halve the resolution
    kTracVersion = 3,
};

#pragma pack(push, 1)
struct _STracRecord {
    uint16_t extra1;
    uint16_t extra2;
    uint16_t value1;
    uint16_t value2;
};
#pragma pack(pop)
static_assert(sizeof(_STracRecord) == 8, "records are 8 bytes on disk");

struct _STracFile {
    uint32_t magic;
    uint32_t version;
    int32_t count;
    int32_t used;
    uint32_t start_time;
    int32_t sec_per_record;
    _STracRecord* records;
    int32_t next_index;
    int32_t channel;
    // Sequential appends share a record once the container has compacted: seq_per_record
    // appends (1, doubled by every compaction) fall into record next_index, of which seq_phase
    // have arrived. The first of them is stored, so record i keeps describing
    // start_time + i x sec_per_record.
    int32_t seq_per_record;
    int32_t seq_phase;
    // Records the buffer really holds; callers may change count (Trac_Write leaves it alone).
    int32_t records_capacity;
};

_STracFile* Trac_Create();
// A new buffer of n zeroed records in place of the old one; false (container unchanged) when
// n is negative or the memory cannot be had.
bool Trac_Alloc(_STracFile* trac, int n);
// Appends at the next sequential index (index -1) or at index / sec_per_record (an index in
// seconds). Returns the record's index, or -1 with the container unchanged when it lies beyond
// count. More than kTracCompactLimit used records halve the resolution.
int Trac_Add(_STracFile* trac, uint16_t extra1, uint16_t extra2, uint16_t value1, uint16_t value2, int index);
void Trac_Free(_STracFile* trac);
// Releases the buffer and the container itself.
void Trac_Destroy(_STracFile* trac);
// Exchanges two containers, buffers included.
void Trac_Swap(_STracFile* a, _STracFile* b);

// Writes a version-3 file of the used records. Returns the number of records written, -1 when
// there is nothing to write or the file cannot be created or fully written, -2 without a buffer.
int Trac_Write(_STracFile* trac, const char* path, int channel);
// Reads a version-1 or version-3 file. Returns the number of records, -1 when the file cannot
// be opened, -2 when the header is short, -3 when the record area is short (or longer than the
// file) or cannot be held. On failure the container is unchanged.
int Trac_Read(_STracFile* trac, const char* path);
