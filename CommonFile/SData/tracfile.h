#pragma once
// Record container (a fixed-capacity array of 8-byte records with sequential or indexed
// appends) and the record file ".str" that stores one: a 28-byte header ("TRAC", version,
// count, used, start_time, channel, sec_per_record) followed by the records, little-endian.
#include <cstdint>

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
};

_STracFile* Trac_Create();
bool Trac_Alloc(_STracFile* trac, int n);
int Trac_Add(_STracFile* trac, uint16_t extra1, uint16_t extra2, uint16_t value1, uint16_t value2, int index);
void Trac_Free(_STracFile* trac);
// Releases the buffer and the container itself.
void Trac_Destroy(_STracFile* trac);
int Trac_Write(_STracFile* trac, const char* path, int channel);
int Trac_Read(_STracFile* trac, const char* path);
