#pragma once
// Pieces shared by the fuzz targets: the input as a heap copy of exactly its size (so that
// AddressSanitizer sees every read past its end), a reader that takes bytes off the front, checks
// that abort with a message, and files that live in memory but have a path.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

// A property every input must keep. Failing aborts, which libFuzzer reports as a crash and the
// replay tests as a failed test.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "fuzz check failed: %s at %s:%d\n", #cond, __FILE__, __LINE__);        \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_Bytes(new unsigned char[size]), m_Size(size)
    {
        if (size)
            memcpy(m_Bytes.get(), data, size);
    }
    unsigned char* data() const { return m_Bytes.get(); }
    size_t size() const { return m_Size; }

private:
    std::unique_ptr<unsigned char[]> m_Bytes;
    size_t m_Size;
};

// Takes bytes off the front of an input; past the end it gives zeros and empty spans.
class FuzzReader {
public:
    FuzzReader(const unsigned char* data, size_t size) : m_At(data), m_Left(size) {}
    bool empty() const { return m_Left == 0; }
    size_t left() const { return m_Left; }
    unsigned char Byte()
    {
        if (m_Left == 0)
            return 0;
        --m_Left;
        return *m_At++;
    }
    // Up to n bytes; *got says how many there were.
    const unsigned char* Take(size_t n, size_t* got)
    {
        const unsigned char* p = m_At;
        *got = n < m_Left ? n : m_Left;
        m_At += *got;
        m_Left -= *got;
        return p;
    }

private:
    const unsigned char* m_At;
    size_t m_Left;
};

// A file in memory that the code under test opens, truncates and rewrites by its path
// (/proc/self/fd/N), so that a run of millions of inputs never touches the disk.
class MemFile {
public:
    MemFile() : m_Fd(memfd_create("vostral-fuzz", MFD_CLOEXEC))
    {
        if (m_Fd < 0) {
            perror("memfd_create");
            abort();
        }
        m_Path = "/proc/self/fd/" + std::to_string(m_Fd);
    }
    ~MemFile() { close(m_Fd); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;

    const std::string& path() const { return m_Path; }
    void Write(const unsigned char* data, size_t size)
    {
        FUZZ_CHECK(ftruncate(m_Fd, 0) == 0);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(m_Fd, data + done, size - done, off_t(done));
            FUZZ_CHECK(n > 0);
            done += size_t(n);
        }
    }

private:
    int m_Fd;
    std::string m_Path;
};

// Once per process: Qt's warnings (writes to a serial port that is not open, ...) are silenced,
// they would flood the fuzzer's output; and the local time zone is one with daylight-saving
// changes, so that the device's local date words meet the conversion's awkward hours.
void Fuzz_Init();
