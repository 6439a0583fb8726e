#include "textimport.h"

#include <QDateTime>
#include <QFile>
#include <QLoggingCategory>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

namespace {
Q_LOGGING_CATEGORY(lcImport, "vostral.import", QtInfoMsg)

const char kDateKey[] = "Date:";
const char kCountKey[] = "Data Count:";
const char kHeaderMark[] = "number\ttime";

const char kTempRecordSuffix[] = ".tmp.str";
// A text file of this layout holds at most 1.2 million rows of a few dozen bytes.
constexpr qint64 kLargestTextFile = 256LL * 1024 * 1024;

// Clock fields beyond this are nonsense; bounding them keeps the seconds arithmetic in range.
constexpr int64_t kClockFieldLimit = 1000000000;

struct Span {
    const char* b;
    const char* e;
    bool empty() const { return b == e; }
    size_t size() const { return size_t(e - b); }
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Walks the text line by line; a CR before a line end belongs to no line.
class Lines {
public:
    explicit Lines(const QByteArray& text) : m_At(text.constData()), m_End(text.constData() + text.size()) {}

    bool Next(Span* line)
    {
        if (m_At == m_End)
            return false;
        const char* nl = std::find(m_At, m_End, '\n');
        const char* e = nl;
        if (e != m_At && e[-1] == '\r')
            --e;
        *line = {m_At, e};
        m_At = nl == m_End ? m_End : nl + 1;
        return true;
    }

private:
    const char* m_At;
    const char* m_End;
};

bool StartsWith(Span s, const char* key, size_t n)
{
    return s.size() >= n && std::equal(key, key + n, s.b);
}

// The integer at the start of s (after blanks, with an optional sign), as a stream would read
// it; false when there is none or it does not fit.
bool LeadingInt(Span s, int64_t* out)
{
    const char* p = s.b;
    while (p != s.e && IsBlank(*p))
        ++p;
    if (p != s.e && *p == '+')
        ++p;
    long long v = 0;
    const auto r = std::from_chars(p, s.e, v);
    if (r.ec != std::errc())
        return false;
    *out = v;
    return true;
}

int64_t LeadingIntOr0(Span s)
{
    int64_t v = 0;
    return LeadingInt(s, &v) ? v : 0;
}

// A single-precision number with a decimal point, whatever the locale; 0 when there is none.
float LeadingFloatOr0(Span s)
{
    const char* p = s.b;
    if (p != s.e && *p == '+')
        ++p;
    float v = 0;
    const auto r = std::from_chars(p, s.e, v);
    return r.ec == std::errc() ? v : 0.0f;
}

// A shown value in tenths, cut toward zero and kept inside the 16-bit field.
uint16_t Tenths(float value)
{
    const float scaled = value * 10.0f;
    if (!(scaled >= 0.0f)) // negative or not a number
        return 0;
    if (scaled >= 65535.0f)
        return 65535;
    return uint16_t(scaled);
}

// Up to `max` tokens of s separated by white space.
int Tokens(Span s, Span* out, int max)
{
    int n = 0;
    const char* p = s.b;
    while (n < max) {
        while (p != s.e && IsBlank(*p))
            ++p;
        if (p == s.e)
            break;
        const char* start = p;
        while (p != s.e && !IsBlank(*p))
            ++p;
        out[n++] = {start, p};
    }
    return n;
}

// "hh:mm:ss" as seconds since midnight, not wrapped: missing parts count 0, so does a negative
// second.
int64_t ClockSeconds(Span token)
{
    int64_t part[3] = {0, 0, 0};
    const char* p = token.b;
    for (int k = 0; k < 3 && p <= token.e; ++k) {
        const char* colon = std::find(p, token.e, ':');
        part[k] = std::clamp(LeadingIntOr0({p, colon}), -kClockFieldLimit, kClockFieldLimit);
        if (colon == token.e)
            break;
        p = colon + 1;
    }
    return (part[0] * 60 + part[1]) * 60 + std::max<int64_t>(part[2], 0);
}

// "Date:" year "." month "." day "-" anything: the local midnight of that day.
bool ParseDateLine(Span line, QDate* date)
{
    Span rest{line.b + sizeof kDateKey - 1, line.e};
    const char ends[3] = {'.', '.', '-'};
    int64_t field[3];
    for (int k = 0; k < 3; ++k) {
        const char* end = std::find(rest.b, rest.e, ends[k]);
        if (end == rest.e)
            return false;
        field[k] = std::clamp(LeadingIntOr0({rest.b, end}), int64_t(-1), int64_t(100000));
        rest.b = end + 1;
    }
    *date = QDate(int(field[0]), int(field[1]), int(field[2]));
    return date->isValid();
}

qint64 LocalOffsetAt(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs, Qt::LocalTime).offsetFromUtc();
}

// The instant at which local clocks read `clock` seconds after the start of `date` (a clock
// beyond a day runs into the following days). The reading is built as wall-clock time, not as
// midnight plus elapsed seconds, so a start after the clocks changed that day is not an hour off.
// Where the change makes the reading ambiguous it is settled the way a logger's clock would
// have meant it:
// - a reading the clocks skipped (the spring-forward gap) was taken by a clock not yet put
//   forward: it is read with the offset in force before the change (02:30 becomes 03:30);
// - a reading that happens twice (the fall-back hour) is the first of the two.
// Qt 5 alone gets the gap wrong: such a QDateTime is invalid and its seconds are an hour early.
qint64 WallClockToEpoch(const QDate& date, int64_t clock)
{
    const qint64 wall = QDateTime(date, QTime(0, 0), Qt::UTC).toSecsSinceEpoch() + clock;
    // The offsets a day either side bracket the one change a day can bring.
    const qint64 before = LocalOffsetAt(wall - 86400);
    const qint64 after = LocalOffsetAt(wall + 86400);
    const qint64 atBefore = wall - before;
    const qint64 atAfter = wall - after;
    const bool beforeHolds = LocalOffsetAt(atBefore) == before;
    const bool afterHolds = LocalOffsetAt(atAfter) == after;
    if (beforeHolds && afterHolds)
        return std::min(atBefore, atAfter);
    return afterHolds ? atAfter : atBefore;
}
} // namespace

TextImportResult TextImport_Parse(const QByteArray& text, _STracFile* trac)
{
    Lines lines(text);
    Span line{};
    if (!lines.Next(&line) || !StartsWith(line, kDateKey, sizeof kDateKey - 1))
        return TextImportResult::NoDateLine;
    QDate date;
    if (!ParseDateLine(line, &date))
        return TextImportResult::BadDate;

    if (!lines.Next(&line) || !StartsWith(line, kCountKey, sizeof kCountKey - 1))
        return TextImportResult::NoCountLine;
    const int64_t count = LeadingIntOr0({line.b + sizeof kCountKey - 1, line.e});
    if (count < 0)
        return TextImportResult::BadCount;

    bool header = false;
    while (!header && lines.Next(&line))
        header = std::search(line.b, line.e, kHeaderMark, kHeaderMark + sizeof kHeaderMark - 1) != line.e;
    if (!header)
        return TextImportResult::NoHeader;

    const int capacity = int(std::min<int64_t>(count, kTextImportMaxRecords));
    if (!Trac_Alloc(trac, capacity))
        return TextImportResult::NoMemory;
    trac->magic = kTracMagic;
    trac->version = kTracVersion;
    trac->channel = 0;
    // Row indexes are record numbers while the rows go in; the real spacing is set afterwards.
    trac->sec_per_record = 1;

    int64_t clock1 = 0, clock2 = 0;
    bool haveRow1 = false, haveRow2 = false;
    int lastRecord = -1;
    while (lines.Next(&line)) {
        Span field[4];
        const int n = Tokens(line, field, 4);
        int64_t index = 0;
        if (n == 0 || !LeadingInt(field[0], &index) || index <= 0 || index > capacity)
            continue; // not a row, or one the container cannot hold
        const float pm25 = n > 2 ? LeadingFloatOr0(field[2]) : 0.0f;
        const float pm10 = n > 3 ? LeadingFloatOr0(field[3]) : 0.0f;
        qCDebug(lcImport, "index=%d. time=%s pm25=%f pm10=%f", int(index),
                n > 1 ? QByteArray(field[1].b, int(field[1].size())).constData() : "", double(pm25), double(pm10));
        const int record = Trac_Add(trac, 0, 0, Tenths(pm25), Tenths(pm10), int(index - 1));
        if (record < 0)
            continue;
        lastRecord = std::max(lastRecord, record);
        if (index == 1) {
            clock1 = n > 1 ? ClockSeconds(field[1]) : 0;
            haveRow1 = true;
        } else if (index == 2) {
            clock2 = n > 1 ? ClockSeconds(field[1]) : 0;
            haveRow2 = true;
        }
    }
    if (lastRecord < 0)
        return TextImportResult::NoRecords;
    // Rows need not come in order: every row that went in is kept.
    trac->used = lastRecord + 1;

    // Without a second row the records are a second apart.
    const int64_t interval = haveRow2 ? clock2 - (haveRow1 ? clock1 : 0) : 1;
    if (interval < 1 || interval > std::numeric_limits<int32_t>::max())
        return TextImportResult::BadInterval;
    trac->sec_per_record = int32_t(interval);

    // A reading far outside 1970..2106 is refused before the local-time conversion sees it.
    const qint64 wallDays = date.toJulianDay() - QDate(1970, 1, 1).toJulianDay() + clock1 / 86400;
    if (wallDays < -2 || wallDays > qint64(std::numeric_limits<uint32_t>::max()) / 86400 + 2)
        return TextImportResult::BadDate;
    const qint64 start = WallClockToEpoch(date, clock1);
    if (start < 0 || start > qint64(std::numeric_limits<uint32_t>::max()))
        return TextImportResult::BadDate;
    trac->start_time = uint32_t(start);
    return TextImportResult::Ok;
}

QString TextImport_ToRecordFile(const QString& fileName)
{
    QFile in(fileName);
    if (!in.open(QIODevice::ReadOnly) || in.size() > kLargestTextFile)
        return QString();
    qCDebug(lcImport, "file read");
    const QByteArray text = in.readAll();
    in.close();

    const std::unique_ptr<_STracFile, void (*)(_STracFile*)> trac(Trac_Create(), Trac_Destroy);
    if (!trac)
        return QString();
    const TextImportResult result = TextImport_Parse(text, trac.get());
    if (result != TextImportResult::Ok) {
        qCDebug(lcImport) << "refused:" << int(result);
        return QString();
    }
    // An earlier record file of this name is replaced, and never handed back instead when this
    // one cannot be written.
    const QString temp = fileName + QLatin1String(kTempRecordSuffix);
    if (Trac_Write(trac.get(), QFile::encodeName(temp).constData(), 0) < 0)
        return QString();
    return temp;
}
