// The text export: a tab-separated file with CR LF lines that a spreadsheet opens.
//
//   Data Count:<stored samples>
//   <empty line>
//   number<TAB>time       <TAB>PM25Value<TAB>PM10Value<TAB>      (two-value devices)
//   1    <TAB>09:30:00<TAB>35.2       <TAB>41
//
// Numbers are written like printf's %g at precision 6, but never through the C library's
// locale: a decimal-comma locale must not change the file.
#include "grecorddatapro.h"
#include "localclock.h"
#include "platformtime.h"

#include <QFile>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>

namespace {
constexpr int kTypeOwnTimeStamps = 130;
constexpr size_t kFlushBytes = 256 * 1024;
const char kHeaderTwoValues[] = "number\ttime       \tPM25Value\tPM10Value\t";
const char kHeaderOneValue[] = "number\ttime        \tValue\t";
const char kValueSeparator[] = "       \t";

class TextOut {
public:
    explicit TextOut(FILE* f) : m_File(f) { m_Buffer.reserve(kFlushBytes + 256); }

    void Text(const char* s) { m_Buffer += s; }
    void Char(char c) { m_Buffer += c; }
    void EndLine()
    {
        m_Buffer += "\r\n";
        if (m_Buffer.size() >= kFlushBytes)
            Flush();
    }

    void Int(int64_t v)
    {
        char buf[24];
        m_Buffer.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
    }

    // Left-aligned in a field of width characters.
    void IntLeft(int64_t v, size_t width)
    {
        const size_t before = m_Buffer.size();
        Int(v);
        const size_t used = m_Buffer.size() - before;
        if (used < width)
            m_Buffer.append(width - used, ' ');
    }

    void Double(double v)
    {
        char buf[32];
        m_Buffer.append(buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6).ptr);
    }

    void TwoDigits(int v)
    {
        m_Buffer += char('0' + v / 10 % 10);
        m_Buffer += char('0' + v % 10);
    }

    bool Flush()
    {
        if (!m_Buffer.empty() && fwrite(m_Buffer.data(), 1, m_Buffer.size(), m_File) != m_Buffer.size())
            m_Failed = true;
        m_Buffer.clear();
        return !m_Failed;
    }

private:
    FILE* m_File;
    std::string m_Buffer;
    bool m_Failed = false;
};

void WriteClock(TextOut& out, const LocalClockFields& t, bool withSeconds)
{
    out.TwoDigits(t.hour);
    out.Char(':');
    out.TwoDigits(t.minute);
    if (withSeconds) {
        out.Char(':');
        out.TwoDigits(t.second);
    }
}

void WriteValues(TextOut& out, double first, double second, bool twoValues)
{
    out.Double(first);
    if (twoValues) {
        out.Text(kValueSeparator);
        out.Double(second);
    }
    out.EndLine();
}
} // namespace

bool GRecordDataPro::SaveTextFile(const SCodeUsb& codec, const QString& path, int source, int interval, int mode,
                                  const uint16_t* pm10History, const uint16_t* pm25History)
{
    FILE* f = fopen(QFile::encodeName(path).constData(), "wb");
    if (!f)
        return false;
    const bool twoValues = mode == 2;
    const _SRealData* series = m_pRealData;
    TextOut out(f);
    LocalClock clock;

    out.Text("Data Count:");
    out.Int(series->m_DataCount);
    out.EndLine();
    out.EndLine();
    out.Text(twoValues ? kHeaderTwoValues : kHeaderOneValue);
    out.EndLine();

    if (source == 2) {
        // History rows come from the codec's arrays as they are at the time of saving.
        const int rows = pm25History ? std::min<int>(codec.m_RealPM25Count, kHistoryValues) : 0;
        const bool ownStamps = codec.m_TypeCode == kTypeOwnTimeStamps;
        // Other devices count back from now, so that the last row lies one interval before the
        // time of saving (anchored on the rows written, which also holds after a zoom).
        const int64_t firstSec =
            Platform_CurrentDateTime().toSecsSinceEpoch() - (int64_t(rows) + 1) * interval;
        const double scale = m_ValueScale != 0 ? m_ValueScale : 10;
        for (int i = 0; i < rows; ++i) {
            out.IntLeft(i + 1, 5);
            out.Char('\t');
            if (ownStamps) {
                const int64_t stamp = i < codec.mTimeSecList.size() ? codec.mTimeSecList[i] : 0;
                const LocalClockFields t = clock.At(stamp);
                out.TwoDigits(t.month);
                out.Char('.');
                out.TwoDigits(t.day);
                out.Char(' ');
                WriteClock(out, t, false);
            } else {
                WriteClock(out, clock.At(firstSec + (int64_t(i) + 1) * interval), false);
            }
            out.Char('\t');
            WriteValues(out, pm25History[i] / scale, pm10History ? pm10History[i] / scale : 0.0, twoValues);
        }
    } else {
        const int64_t start = m_StartTime.isValid() ? m_StartTime.toSecsSinceEpoch() : 0;
        const int64_t unit = series->m_DataSecUnit;
        for (int i = 0; i < series->m_DataCount; ++i) {
            out.IntLeft(i + 1, 5);
            out.Char('\t');
            WriteClock(out, clock.At(start + i * unit), true);
            out.Char('\t');
            WriteValues(out, series->m_pValue1[i], series->m_pValue2[i], twoValues);
        }
    }

    bool ok = out.Flush();
    ok = fflush(f) == 0 && !ferror(f) && ok;
    return fclose(f) == 0 && ok;
}
