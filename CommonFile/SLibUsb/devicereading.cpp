#include "devicereading.h"

namespace {
constexpr double kPmScale = 10.0;    // tenths of ug/m3
constexpr double kGasScale = 1000.0; // thousandths of mg/m3
} // namespace

QVector<DeviceValue> Device_Values(int resultCode, const TAG_T_SPM25Data& data, int typeCode)
{
    QVector<DeviceValue> values;
    if (resultCode == kResultPrimary1 || resultCode == kResultPrimary3) {
        values.append({DeviceQuantity::PM2_5, data.usValue1 / kPmScale, "ug/m3"});
        if (SCodeUsb::ReportsPM10Of(typeCode))
            values.append({DeviceQuantity::PM10, data.usValue2 / kPmScale, "ug/m3"});
    } else if ((resultCode == kResultFormaldehyde || resultCode == kResultTvoc) && SCodeUsb::ChannelCountOf(typeCode) == 2) {
        // The models that send gas frames they do not measure are particulate-only in the catalogue.
        values.append({resultCode == kResultTvoc ? DeviceQuantity::Tvoc : DeviceQuantity::Formaldehyde,
                       data.usValue1 / kGasScale, "mg/m3"});
    }
    return values;
}
