// The record file: a little-endian header and the records of a container.
//
//   offset  0  magic "TRAC"      offset 16  start_time
//   offset  4  version (3)       offset 20  channel          (absent in version 1)
//   offset  8  count             offset 24  sec_per_record   (offset 20 in version 1)
//   offset 12  used              offset 28  count records of 8 bytes (offset 24 in version 1)
//
// Every integer is encoded byte by byte, so files are the same on any host.
#include "tracfile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
constexpr int kHeaderBytes = 28;
constexpr int kVersion1HeaderBytes = 24;
constexpr int kChunkRecords = 8192; // 64 KB staging for the record area

void PutLE16(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void PutLE32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint16_t GetLE16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t GetLE32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void EncodeRecord(unsigned char* p, const _STracRecord& r)
{
    PutLE16(p, r.extra1);
    PutLE16(p + 2, r.extra2);
    PutLE16(p + 4, r.value1);
    PutLE16(p + 6, r.value2);
}

// The records were read as raw bytes into their own slots; turn each into host order.
void DecodeRecordsInPlace(_STracRecord* records, int n)
{
    for (int i = 0; i < n; ++i) {
        unsigned char raw[8];
        memcpy(raw, &records[i], 8);
        records[i] = _STracRecord{GetLE16(raw), GetLE16(raw + 2), GetLE16(raw + 4), GetLE16(raw + 6)};
    }
}

bool WriteRecords(FILE* f, const _STracRecord* records, int n)
{
    static thread_local unsigned char chunk[kChunkRecords * 8];
    for (int done = 0; done < n;) {
        const int batch = std::min(kChunkRecords, n - done);
        for (int i = 0; i < batch; ++i)
            EncodeRecord(chunk + 8 * i, records[done + i]);
        if (fwrite(chunk, 8, size_t(batch), f) != size_t(batch))
            return false;
        done += batch;
    }
    return true;
}

// Closes f and says whether everything written reached the file.
bool CloseAfterWrite(FILE* f, bool ok)
{
    ok = ok && fflush(f) == 0 && !ferror(f);
    return fclose(f) == 0 && ok;
}

// Reads one header word; false when the file ends first.
bool ReadWord(FILE* f, uint32_t* out)
{
    unsigned char b[4];
    if (fread(b, 1, 4, f) != 4)
        return false;
    *out = GetLE32(b);
    return true;
}
} // namespace

int Trac_Write(_STracFile* t, const char* path, int channel)
{
    t->channel = channel;
    if (t->used <= 0)
        return -1;
    if (!t->records)
        return -2;
    // Never more records than the buffer holds, whatever used says.
    const int n = std::min(t->used, t->records_capacity);
    FILE* f = path ? fopen(path, "wb") : nullptr;
    if (!f)
        return -1;

    // A file always has the layout written here: "TRAC", version 3.
    unsigned char header[kHeaderBytes];
    PutLE32(header, kTracMagic);
    PutLE32(header + 4, kTracVersion);
    PutLE32(header + 8, uint32_t(n));
    PutLE32(header + 12, uint32_t(n));
    PutLE32(header + 16, t->start_time);
    PutLE32(header + 20, uint32_t(t->channel));
    PutLE32(header + 24, uint32_t(t->sec_per_record));
    bool ok = fwrite(header, 1, kHeaderBytes, f) == size_t(kHeaderBytes);
    ok = ok && WriteRecords(f, t->records, n);
    return CloseAfterWrite(f, ok) ? n : -1;
}

int Trac_Read(_STracFile* t, const char* path)
{
    FILE* f = path ? fopen(path, "rb") : nullptr;
    if (!f)
        return -1;
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        fclose(f);
        return -1;
    }

    // Read into a scratch container, so that a failure leaves the caller's as it was.
    _STracFile scratch = *t;
    scratch.records = nullptr;
    scratch.records_capacity = 0;
    uint32_t count = 0, used = 0, channel = 0, secPerRecord = 0;
    if (!ReadWord(f, &scratch.magic) || !ReadWord(f, &scratch.version) || !ReadWord(f, &count)
        || !ReadWord(f, &used) || !ReadWord(f, &scratch.start_time)) {
        fclose(f);
        return -2;
    }
    // Version 1 has no channel; the container keeps the one it had. The magic is not checked.
    const bool hasChannel = scratch.version != 1;
    if ((hasChannel && !ReadWord(f, &channel)) || !ReadWord(f, &secPerRecord)) {
        fclose(f);
        return -2;
    }
    if (hasChannel)
        scratch.channel = int32_t(channel);
    scratch.sec_per_record = int32_t(secPerRecord);

    // The header's count is checked against the file's length before anything is allocated.
    const int64_t records = int32_t(count);
    const int64_t area = int64_t(st.st_size) - (hasChannel ? kHeaderBytes : kVersion1HeaderBytes);
    if (records < 0 || records * 8 > area || !Trac_Alloc(&scratch, int(records))) {
        fclose(f);
        return -3;
    }
    if (fread(scratch.records, 8, size_t(records), f) != size_t(records)) {
        fclose(f);
        Trac_Free(&scratch);
        return -3;
    }
    fclose(f);
    DecodeRecordsInPlace(scratch.records, int(records));
    // used never reaches past the records, so a later write cannot read beyond the buffer.
    scratch.used = std::clamp(int32_t(used), 0, int32_t(records));

    Trac_Swap(t, &scratch);
    Trac_Free(&scratch); // the container's previous buffer
    return int(records);
}
