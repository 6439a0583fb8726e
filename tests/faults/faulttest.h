#pragma once
// Helpers of the fault tests: what a store holds, taken before a fault, so that the test can show
// afterwards that the fault lost or changed nothing; and what the user sees of the live readings.
#include "monitortest.h"

#include "windowtexts.h"

#include <qwt_plot_curve.h>

#include <QLineEdit>
#include <QString>

#include <vector>

Q_DECLARE_METATYPE(Link)

// Distinct, never-empty values (0 and 0xFFFF mark empty history slots on the device).
inline SimReadingSource FaultRamp()
{
    return SimReadingSource::Ramp({10.0, 15.0, 0.020}, {0.1, 0.3, 0.001}, 2000);
}

// Everything a store holds: its samples and its records.
struct StoreContents {
    qint64 startSecs = 0;
    int secPerSample = 0;
    std::vector<double> value1, value2, seconds;
    int secPerRecord = 0;
    std::vector<_STracRecord> records;
};

inline StoreContents Contents(const GRecordDataPro* store)
{
    StoreContents c;
    const _SRealData* s = store->m_pRealData;
    const _STracFile* t = store->m_pTrac;
    c.startSecs = store->m_StartTime.toSecsSinceEpoch();
    c.secPerSample = s->m_DataSecUnit;
    c.value1.assign(s->m_pValue1, s->m_pValue1 + s->m_DataCount);
    c.value2.assign(s->m_pValue2, s->m_pValue2 + s->m_DataCount);
    c.seconds.assign(s->m_pDataSec, s->m_pDataSec + s->m_DataCount);
    c.secPerRecord = t->sec_per_record;
    if (t->records)
        c.records.assign(t->records, t->records + t->used);
    return c;
}

// Empty when `later` still holds everything `earlier` held, unchanged and in place; with `grown`
// it may hold more after it (a live store keeps taking readings), else exactly the same.
inline QString LostOrChanged(const StoreContents& earlier, const StoreContents& later, bool grown)
{
    if (earlier.startSecs != later.startSecs || earlier.secPerSample != later.secPerSample
        || earlier.secPerRecord != later.secPerRecord)
        return QStringLiteral("start or spacing changed");
    const size_t n = earlier.value1.size();
    if (later.value1.size() < n || later.records.size() < earlier.records.size())
        return QStringLiteral("%1 samples and %2 records before, %3 and %4 after")
            .arg(n).arg(earlier.records.size()).arg(later.value1.size()).arg(later.records.size());
    if (!grown && (later.value1.size() != n || later.records.size() != earlier.records.size()))
        return QStringLiteral("the store grew from %1 to %2 samples").arg(n).arg(later.value1.size());
    for (size_t i = 0; i < n; ++i) {
        if (earlier.value1[i] != later.value1[i] || earlier.value2[i] != later.value2[i]
            || earlier.seconds[i] != later.seconds[i])
            return QStringLiteral("sample %1 changed").arg(i);
    }
    for (size_t i = 0; i < earlier.records.size(); ++i) {
        const _STracRecord& a = earlier.records[i];
        const _STracRecord& b = later.records[i];
        if (a.extra1 != b.extra1 || a.extra2 != b.extra2 || a.value1 != b.value1 || a.value2 != b.value2)
            return QStringLiteral("record %1 changed").arg(i);
    }
    return QString();
}

#define VERIFY_KEPT(earlier, later, grown)                                                                  \
    do {                                                                                                    \
        const QString kept_ = LostOrChanged((earlier), (later), (grown));                                   \
        QVERIFY2(kept_.isEmpty(), qPrintable(kept_));                                                       \
    } while (0)

// The value fields show this reading of the device.
inline bool ShowsReading(PM2_5& w, const SimScaledReading& r)
{
    return w.ui->lineEditValue->text() == ShownValueText(r.pm25, 6)
           && w.ui->lineEditPM10Value->text() == ShownValueText(r.pm10, 6);
}

// The live store's newest record holds this reading.
inline bool NewestRecordIs(const GRecordDataPro* live, const SimScaledReading& r)
{
    const _STracFile* t = live->m_pTrac;
    return t->used > 0 && t->records[t->used - 1].value1 == r.pm25 && t->records[t->used - 1].value2 == r.pm10;
}
