#pragma once
// Record stores. GRecordDataPro owns one sample series and one record container plus a start
// time and a value scale, and converts between them; GRecordChannel holds the three stores of
// one channel (live readings, an opened file, the device's downloaded history).
#include "realdata.h"
#include "scodeusb.h"
#include "tracfile.h"

#include <QDateTime>
#include <QString>
#include <QVector>
#include <cstdint>

class GRecordDataPro {
public:
    GRecordDataPro();
    ~GRecordDataPro();
    GRecordDataPro(const GRecordDataPro&) = delete;
    GRecordDataPro& operator=(const GRecordDataPro&) = delete;

    void AddRealData(const TAG_T_SPM25Data& reading, double scale);
    double SetValueScale(int gas);
    void UpdateStartFields();
    void StartNow();
    // false when refused (seconds per sample below 1); the store is then unchanged.
    bool HistoryToRealData(const QDateTime& endTime, int gas, int secPerSample, int showPoints);
    // The container's records into the series; false (store unchanged) when sec_per_record < 1.
    bool RecordDataToRealData2(int gas);
    // Reads a record file into the container and converts it. false when the file cannot be read
    // or converted; the store is then unchanged.
    bool OpenBinFile(const QString& path, int gas);
    // Trac_Write of the container: records written, or -1 / -2.
    int SaveBinFile(const QString& path, int channel);
    // Returns false when the file could not be created or written.
    bool SaveTextFile(const SCodeUsb& codec, const QString& path, int source, int interval, int mode,
                      const uint16_t* pm10History, const uint16_t* pm25History);

    _SRealData* m_pRealData;
    _STracFile* m_pTrac;
    QDateTime m_StartTime;
    double m_ValueScale = 10;
};

class GRecordChannel {
public:
    GRecordChannel();
    ~GRecordChannel();
    GRecordChannel(const GRecordChannel&) = delete;
    GRecordChannel& operator=(const GRecordChannel&) = delete;

    void Create();
    void Release();
    void SetSource(int source, int live);
    GRecordDataPro* GetData(int source, int which) const;
    void StartRealTime();
    void AddReading(const TAG_T_SPM25Data& reading, int gas);
    // Downloads the device's history through the codec and stores it (StoreHistory); returns the
    // number of values, 0 when the download failed or the interval is below 1 second.
    uint16_t LoadHistory(SCodeUsb& codec, int channel, QDateTime referenceTime, int interval, int tvocFlag,
                         int valueMode);
    // Turns the codec's history arrays into the history store and makes it current. Returns the
    // number of values; an interval below 1 second is refused (0) and changes nothing.
    uint16_t StoreHistory(const SCodeUsb& codec, int channel, const QDateTime& referenceTime, int interval);

    GRecordDataPro* m_pRealTime = nullptr;
    GRecordDataPro* m_pFileData = nullptr;
    GRecordDataPro* m_pHisData = nullptr;
    GRecordDataPro* m_pCurrent = nullptr;
    QVector<uint32_t> m_HisTimes;
    unsigned char m_Live = 0;
    unsigned char m_Source = 0;
    int32_t m_TypeCode = 0;
};

// The window's channel array while it exists, else null (read by the time-axis labels).
extern GRecordChannel* g_RecordData;
