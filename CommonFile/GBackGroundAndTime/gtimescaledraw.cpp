#include "gtimescaledraw.h"

#include "grecorddatapro.h"

#include <QLocale>
#include <QLoggingCategory>
#include <cmath>
#include <limits>

Q_LOGGING_CATEGORY(lcTimeAxis, "vostral.timeaxis", QtInfoMsg)

namespace {

// Device type whose downloaded history carries its own time stamps, one per 300 s slot.
constexpr int kStampedHistoryType = 130;
constexpr unsigned char kSourceHistory = 2;

// Truncates toward zero like a C cast, but saturates instead of overflowing, and maps NaN to 0.
// The axis hands over doubles, and a cast of an out-of-range double to int is undefined.
int TruncToInt(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (v <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

// Labels are built from digits only; the C locale keeps them free of the user's digit set.
QString Format(const QDateTime& t, const char* format)
{
    return QLocale::c().toString(t, QLatin1String(format));
}

QString StampLabel(uint32_t stamp)
{
    return Format(QDateTime::fromSecsSinceEpoch(stamp), "MM-dd \nhh:mm");
}

// Channel 0 shows a stamped device history: x values are slot positions, not seconds from a base.
const GRecordChannel* StampedHistoryChannel()
{
    if (!g_RecordData)
        return nullptr;
    const GRecordChannel& ch = g_RecordData[0];
    if (ch.m_Source != kSourceHistory || ch.m_TypeCode != kStampedHistoryType)
        return nullptr;
    return &ch;
}

QString HistoryLabel(const QVector<uint32_t>& stamps, double value)
{
    qCDebug(lcTimeAxis, "v=%f\n", value);
    if (stamps.isEmpty())
        return QStringLiteral("0");
    const int slot = TruncToInt(value / 60 / 5);
    // A negative slot wraps to a huge unsigned index and so falls to the last stamp as well.
    if (static_cast<unsigned>(slot) < static_cast<unsigned>(stamps.size())) {
        const uint32_t stamp = stamps[slot];
        qCDebug(lcTimeAxis, " v=%f. histtime[%d]=%s\n", value, slot,
                qPrintable(Format(QDateTime::fromSecsSinceEpoch(stamp), "yy-MM-dd hh:mm:ss")));
        return StampLabel(stamp);
    }
    qCDebug(lcTimeAxis, "out of range. v=%f. size=%d\n", value, stamps.size());
    return StampLabel(stamps.last());
}

} // namespace

QString GTimeToStr(QDateTime baseTime, double value, int mode)
{
    if (const GRecordChannel* history = StampedHistoryChannel())
        return HistoryLabel(history->m_HisTimes, value);

    const QDateTime t = baseTime.addSecs(TruncToInt(value));
    const bool midnight = Format(t, "hh:mm:ss") == QLatin1String("00:00:00");
    const char* twoLine = "   hh:mm  \nyyyy/MM/dd";
    switch (mode) {
    case 0:
        return Format(t, midnight ? twoLine : "hh:mm");
    case 2:
        return Format(t, twoLine);
    default:
        return Format(t, midnight ? "yyyy/MM/dd hh:mm" : "hh:mm:ss");
    }
}

GTimeScaleDraw::GTimeScaleDraw(const QDateTime& baseTime, int labelMode)
    : mBaseTime(baseTime), mLabelMode(labelMode)
{
}

QwtText GTimeScaleDraw::label(double value) const
{
    return QwtText(GTimeToStr(mBaseTime, value, mLabelMode));
}
