#pragma once
// A decoded measurement as values in physical units, the way a driver hands them out: each with
// its quantity and unit. The frames carry tenths of ug/m3 for particulate matter and thousandths
// of mg/m3 for the gas; nothing past the device link needs to know that.
#include "scodeusb.h"

#include <QVector>

enum class DeviceQuantity { PM2_5, PM10, Formaldehyde, Tvoc };

struct DeviceValue {
    DeviceQuantity quantity;
    double value;     // in `unit`
    const char* unit; // "ug/m3" or "mg/m3"
};

// The values of one poll's result: PM2.5 (and PM10 on the models that report it) for a
// particulate frame, the gas for a gas frame of a model with a gas channel, none otherwise.
QVector<DeviceValue> Device_Values(int resultCode, const TAG_T_SPM25Data& data, int typeCode);
