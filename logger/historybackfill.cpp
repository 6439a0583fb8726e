#include "historybackfill.h"

#include "csvformat.h"

#include <QFile>
#include <QMap>
#include <QSet>

namespace {
constexpr int kKindPrimary = 1;
constexpr int kKindGas = 2;
constexpr int kKindPM10 = 5;

// Times already in the history files of the days the values fall on.
QSet<int64_t> TimesOnDisk(const QString& folder, const QByteArray& serial, const QVector<int64_t>& times)
{
    QSet<QDate> days;
    for (int64_t t : times)
        days.insert(Csv_LocalDay(t));
    QSet<int64_t> seen;
    for (const QDate& day : days) {
        QFile file(folder + QLatin1Char('/') + Csv_DayFileName(day, true));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        while (!file.atEnd()) {
            LoggerReading r;
            QByteArray line = file.readLine();
            if (line.endsWith('\n'))
                line.chop(1);
            if (Csv_ParseLine(line, &r) && r.serial == serial)
                seen.insert(r.timeMs);
        }
    }
    return seen;
}

// The times of the downloaded values: the device's own stamps, or for the old format (which
// has none) one interval apart up to the end of the download, as the window shows them.
QVector<int64_t> ValueTimes(const SCodeUsb& codec, int count, int64_t endMs)
{
    QVector<int64_t> times(count);
    const bool stamped = codec.mTimeSecList.size() >= count;
    const int64_t interval = int64_t(SCodeUsb::HistoryIntervalOf(codec.m_TypeCode)) * 1000;
    for (int i = 0; i < count; ++i)
        times[i] = stamped ? int64_t(codec.mTimeSecList[i]) * 1000 : endMs - (count - i) * interval;
    return times;
}
} // namespace

QString BackfillResult::Describe() const
{
    if (!answered)
        return QStringLiteral("history download failed: the sensor did not answer");
    QString text = partial ? QStringLiteral("history download partial: %1 of %2 packets, %3 values received")
                                 .arg(packets)
                                 .arg(expected)
                                 .arg(received)
                           : QStringLiteral("history downloaded: %1 values").arg(received);
    return text + QStringLiteral(", %1 new written").arg(written);
}

BackfillResult Backfill_Run(SCodeUsb& codec, const BackfillSensor& sensor, int64_t cutoffMs, DayLog& history,
                            const QString& folder)
{
    BackfillResult result;
    const int tvoc = sensor.gasKind == GasKind::Tvoc ? 1 : 0;
    // PM10 first, then PM2.5: the codec pairs the two by group and slot.
    if (sensor.hasPm10 && !codec.ReadHistoryData(0, kKindPM10, tvoc))
        return result;
    if (!codec.ReadHistoryData(0, kKindPrimary, tvoc))
        return result;
    result.answered = true;
    if (!SCodeUsb::UsesOldHistoryFormat(codec.m_TypeCode)) {
        result.packets = codec.m_HisPacketCount;
        result.expected = codec.m_5MinutesCount / 12 * 3;
        result.partial = result.packets < result.expected;
    }
    const int n = std::min<int>(codec.m_RealPM25Count, kHistoryValues);
    result.received = n;
    const QVector<int64_t> times = ValueTimes(codec, n, cutoffMs);
    QVector<double> pm25(n), pm10(n);
    for (int i = 0; i < n; ++i) {
        pm25[i] = codec.mp_HistoryData[i] / 10.0;
        pm10[i] = codec.mp_PM10HistoryData[i] / 10.0;
    }

    // The gas history is a download of its own, matched to the particulate values by time.
    QMap<int64_t, double> gas;
    if (sensor.hasGas && !SCodeUsb::UsesOldHistoryFormat(codec.m_TypeCode) &&
        codec.ReadHistoryData(0, kKindGas, tvoc)) {
        const int g = std::min<int>(codec.m_RealPM25Count, kHistoryValues);
        for (int i = 0; i < g && i < codec.mTimeSecList.size(); ++i)
            gas.insert(int64_t(codec.mTimeSecList[i]) * 1000, codec.mp_HistoryData[i] / 1000.0);
    }

    QSet<int64_t> seen = TimesOnDisk(folder, sensor.serial, times);
    for (int i = 0; i < n; ++i) {
        if (times[i] >= cutoffMs || seen.contains(times[i]))
            continue;
        LoggerReading r;
        r.timeMs = times[i];
        r.pm25 = pm25[i];
        if (sensor.hasPm10)
            r.pm10 = pm10[i];
        const auto g = gas.constFind(times[i]);
        if (g != gas.constEnd()) {
            r.gas = g.value();
            r.gasKind = sensor.gasKind == GasKind::None ? GasKind::Formaldehyde : sensor.gasKind;
        }
        r.history = true;
        r.model = sensor.model;
        r.serial = sensor.serial;
        history.Append(r);
        seen.insert(r.timeMs); // a value the device sent twice is written once
        ++result.written;
    }
    return result;
}
