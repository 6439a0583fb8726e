#pragma once
// The text export's reference example: a live two-value store with 35.2/41 and 35.5/41.3 from
// 09:30:00 local time, and the exact bytes it must produce.
#include "grecorddatapro.h"

#include <QByteArray>
#include <QDateTime>

inline void FillExampleStore(GRecordDataPro& store)
{
    store.m_StartTime = QDateTime(QDate(2024, 5, 1), QTime(9, 30, 0));
    RealData_Add(store.m_pRealData, 35.2, 41, 1, 0);
    RealData_Add(store.m_pRealData, 35.5, 41.3, 1, 0);
}

inline QByteArray ExampleExportBytes()
{
    return "Data Count:2\r\n"
           "\r\n"
           "number\ttime       \tPM25Value\tPM10Value\t\r\n"
           "1    \t09:30:00\t35.2       \t41\r\n"
           "2    \t09:30:01\t35.5       \t41.3\r\n";
}
