#pragma once
// Owning handles and small builders shared by the data-core tests.
#include "realdata.h"
#include "tracfile.h"

#include <QByteArray>
#include <QFile>
#include <memory>

struct SeriesFree {
    void operator()(_SRealData* s) const { RealData_Free(s); }
};
using Series = std::unique_ptr<_SRealData, SeriesFree>;

struct TracFree {
    void operator()(_STracFile* t) const { Trac_Destroy(t); }
};
using Trac = std::unique_ptr<_STracFile, TracFree>;

// n samples k seconds apart; values first + i and 2 x (first + i).
inline void FillSeries(_SRealData* s, int n, int k = 1, double first = 1)
{
    for (int i = 0; i < n; ++i)
        RealData_Add(s, first + i, 2 * (first + i), k, s->org_pts);
}

inline QByteArray LE32(uint32_t v)
{
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[i] = char(v >> (8 * i));
    return b;
}

inline QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A new file each time: truncating an existing one makes ext4 flush it to disk on close.
inline bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile::remove(path);
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
