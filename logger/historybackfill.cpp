#include "historybackfill.h"

#include "csvformat.h"

#include <QFile>
#include <QHash>
#include <QMap>
#include <QSet>

namespace {
constexpr int kKindPrimary = 1;
constexpr int kKindGas = 2;
constexpr int kKindPM10 = 5;

// PM2.5 by time of what the history files of the days around these times already hold.
QHash<int64_t, double> OnDisk(const QString& folder, const QByteArray& serial, const QVector<int64_t>& times, int64_t slack)
{
    QSet<QDate> days;
    for (int64_t t : times) {
        days.insert(Csv_LocalDay(t - slack));
        days.insert(Csv_LocalDay(t + slack));
    }
    QHash<int64_t, double> seen;
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
                seen.insert(r.timeMs, r.pm25);
        }
    }
    return seen;
}

// The old format's values on the grid: the newest on the interval at or before nowMs.
QVector<int64_t> GridTimes(int count, int64_t nowMs, int64_t interval)
{
    const int64_t newest = nowMs - ((nowMs % interval) + interval) % interval;
    QVector<int64_t> times(count);
    for (int i = 0; i < count; ++i)
        times[i] = newest - int64_t(count - 1 - i) * interval;
    return times;
}

// The shift by whole intervals (-1, 0 or 1) that puts the most downloaded values onto equal
// values on disk; 0 unless another does better.
int64_t BestShift(const QVector<int64_t>& times, const QVector<double>& pm25, const QHash<int64_t, double>& disk,
                  int64_t interval)
{
    int64_t best = 0;
    int bestMatches = -1;
    for (int64_t shift : {int64_t(0), -interval, interval}) {
        int matches = 0;
        for (int i = 0; i < times.size(); ++i) {
            const auto d = disk.constFind(times[i] + shift);
            matches += d != disk.constEnd() && d.value() == pm25[i];
        }
        if (matches > bestMatches) {
            best = shift;
            bestMatches = matches;
        }
    }
    return best;
}
} // namespace

QString BackfillResult::Describe() const
{
    if (!answered)
        return stopped ? QStringLiteral("history download stopped before the sensor answered")
                       : QStringLiteral("history download failed: the sensor did not answer");
    QString text = stopped ? QStringLiteral("history download stopped by the stop request: %1 values received").arg(received)
                   : partial ? QStringLiteral("history download partial: %1 of %2 packets, %3 values received")
                                   .arg(packets)
                                   .arg(expected)
                                   .arg(received)
                             : QStringLiteral("history downloaded: %1 values").arg(received);
    return text + QStringLiteral(", %1 new written").arg(written);
}

BackfillResult Backfill_Run(SCodeUsb& codec, const BackfillSensor& sensor, int64_t cutoffMs, int64_t nowMs,
                            const QString& folder, std::vector<LoggerReading>* values)
{
    BackfillResult result;
    const auto stopping = [&] { return codec.m_StopRequested && codec.m_StopRequested(); };
    const int tvoc = sensor.gasKind == GasKind::Tvoc ? 1 : 0;
    // PM10 first, then PM2.5: the codec pairs the two by group and slot.
    if (sensor.hasPm10 && (!codec.ReadHistoryData(0, kKindPM10, tvoc) || stopping())) {
        // Stopped in the PM10 half: those values have no times without the PM2.5 half.
        result.stopped = stopping();
        result.answered = result.stopped && codec.m_HisPacketCount > 0;
        return result;
    }
    if (!codec.ReadHistoryData(0, kKindPrimary, tvoc)) {
        result.stopped = stopping();
        return result;
    }
    result.answered = true;
    result.stopped = stopping();
    const bool stamped = !SCodeUsb::UsesOldHistoryFormat(codec.m_TypeCode);
    if (stamped) {
        result.packets = codec.m_HisPacketCount;
        result.expected = codec.m_5MinutesCount / 12 * 3;
        result.partial = result.packets < result.expected;
    }
    int n = std::min<int>(codec.m_RealPM25Count, kHistoryValues);
    if (stamped)
        n = std::min<int>(n, codec.mTimeSecList.size()); // every value comes with its stamp
    result.received = n;
    const int64_t interval = int64_t(SCodeUsb::HistoryIntervalOf(codec.m_TypeCode)) * 1000;
    QVector<int64_t> times(n);
    QVector<double> pm25(n), pm10(n);
    for (int i = 0; i < n; ++i) {
        pm25[i] = codec.mp_HistoryData[i] / 10.0;
        pm10[i] = codec.mp_PM10HistoryData[i] / 10.0;
        if (stamped)
            times[i] = int64_t(codec.mTimeSecList[i]) * 1000;
    }
    if (!stamped)
        times = GridTimes(n, nowMs, interval);

    // The gas history is a download of its own, matched to the particulate values by time.
    QMap<int64_t, double> gas;
    if (sensor.hasGas && stamped && !result.stopped && codec.ReadHistoryData(0, kKindGas, tvoc)) {
        const int g = std::min<int>(codec.m_RealPM25Count, kHistoryValues);
        for (int i = 0; i < g && i < codec.mTimeSecList.size(); ++i)
            gas.insert(int64_t(codec.mTimeSecList[i]) * 1000, codec.mp_HistoryData[i] / 1000.0);
    }

    const QHash<int64_t, double> disk = OnDisk(folder, sensor.serial, times, stamped ? 0 : interval);
    if (!stamped) {
        const int64_t shift = BestShift(times, pm25, disk, interval);
        for (int64_t& t : times)
            t += shift;
    }
    QSet<int64_t> seen;
    for (auto d = disk.constBegin(); d != disk.constEnd(); ++d)
        seen.insert(d.key());
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
        values->push_back(r);
        seen.insert(r.timeMs); // a value the device sent twice is written once
        ++result.written;
    }
    return result;
}
