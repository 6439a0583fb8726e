// The record file: a little-endian header and the records of a container.
//
//   offset  0  magic "TRAC"      offset 16  start_time
//   offset  4  version (3)       offset 20  channel          (absent in version 1)
//   offset  8  count             offset 24  sec_per_record   (offset 20 in version 1)
//   offset 12  used              offset 28  count records of 8 bytes (offset 24 in version 1)
//
// Every integer is encoded byte by byte, so files are the same on any host.
#include "tracfile.h"

#include "zeroblock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
constexpr int kHeaderBytes = 28;
constexpr int kVersion1HeaderBytes = 24;
constexpr int kChunkRecords = 8192; // 64 KB staging for the record area on big-endian hosts
// On a little-endian host a record in memory already has its file layout.
constexpr bool kHostIsLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

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
    if constexpr (kHostIsLittleEndian)
        return;
    for (int i = 0; i < n; ++i) {
        unsigned char raw[8];
        memcpy(raw, &records[i], 8);
        records[i] = _STracRecord{GetLE16(raw), GetLE16(raw + 2), GetLE16(raw + 4), GetLE16(raw + 6)};
    }
}

bool WriteRecords(FILE* f, const _STracRecord* records, int n)
{
    if constexpr (kHostIsLittleEndian)
        return fwrite(records, 8, size_t(n), f) == size_t(n);
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

// Closes the descriptor on every way out.
struct FileHandle {
    explicit FileHandle(int d) : fd(d) {}
    ~FileHandle()
    {
        if (fd >= 0)
            close(fd);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    const int fd;
};

// Reads up to n bytes at offset; returns the bytes read (fewer at the end of the file) or -1.
int64_t ReadAt(int fd, void* buffer, size_t n, int64_t offset)
{
    auto* p = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = pread(fd, p + done, n - done, off_t(offset + int64_t(done)));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        done += size_t(r);
    }
    return int64_t(done);
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
    // Plain descriptor reads: the record area goes straight into the buffer in one call.
    const FileHandle file(path ? open(path, O_RDONLY | O_CLOEXEC) : -1);
    if (file.fd < 0)
        return -1;
    struct stat st;
    if (fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;

    unsigned char header[kHeaderBytes];
    const int64_t got = ReadAt(file.fd, header, kHeaderBytes, 0);
    if (got < 20)
        return -2;
    // Read into a scratch container, so that a failure leaves the caller's as it was.
    _STracFile scratch = *t;
    scratch.magic = GetLE32(header); // not checked: a file with another magic reads the same
    scratch.version = GetLE32(header + 4);
    const int64_t records = int32_t(GetLE32(header + 8));
    const int32_t used = int32_t(GetLE32(header + 12));
    scratch.start_time = GetLE32(header + 16);
    // Version 1 has no channel; the container keeps the one it had.
    const bool hasChannel = scratch.version != 1;
    const int headerBytes = hasChannel ? kHeaderBytes : kVersion1HeaderBytes;
    if (got < headerBytes)
        return -2;
    if (hasChannel)
        scratch.channel = int32_t(GetLE32(header + 20));
    scratch.sec_per_record = int32_t(GetLE32(header + headerBytes - 4));

    // The header's count is checked against the file's length before anything is allocated.
    if (records < 0 || records * 8 > int64_t(st.st_size) - headerBytes)
        return -3;
    // The buffer is filled from the file at once, so its pages are committed in one go. Like
    // Trac_Alloc, this starts the sequential appends afresh.
    scratch.records = static_cast<_STracRecord*>(ZeroBlock_AllocForFill(8 * size_t(records)));
    if (records > 0 && !scratch.records)
        return -3;
    scratch.records_capacity = scratch.count = int32_t(records);
    scratch.next_index = 0;
    scratch.seq_per_record = 1;
    scratch.seq_phase = 0;
    if (ReadAt(file.fd, scratch.records, 8 * size_t(records), headerBytes) != 8 * records) {
        Trac_Free(&scratch);
        return -3;
    }
    DecodeRecordsInPlace(scratch.records, int(records));
    // used never reaches past the records, so a later write cannot read beyond the buffer.
    scratch.used = std::clamp(used, 0, int32_t(records));

    Trac_Swap(t, &scratch);
    Trac_Free(&scratch); // the container's previous buffer
    return int(records);
}
