// The device models: what a type code from the identity frame means for the rest of the program.
#include "scodeusb.h"

namespace {
struct ModelEntry {
    int typeCode;
    const char* name;
};

const ModelEntry kModels[] = {
    {0, "AQ31"},          {1, "AQ31"},          {2, "AQ31-B"},        {3, "AQ31-C"},
    {4, "AQ31-D"},        {5, "AQ31-WIFI"},     {8, "AQ40-S"},        {10, "AQ32"},
    {20, "AQ33"},         {30, "AQ40"},         {40, "AQ31-PM10"},    {50, "AQ31-F"},
    {60, "AQ41"},         {100, "AQ31-ZigBee"}, {120, "PS21"},        {121, "PS22"},
    {126, "PS23"},        {130, "LV51"},        {131, "LV52"},        {132, "MV61"},
    {150, "MV65-5Z"},     {151, "MV65-5W"},     {152, "MV65-2Z"},     {153, "MV65-2W"},
    {155, "MV65-3Z"},     {156, "MV65-3W"},     {157, "MV65-1W"},     {158, "MV65-1Z"},
    {159, "MV65-32W"},    {160, "MV65-22W"},    {161, "MV65-4W"},     {255, "AQ31-Text"},
};

// Models that measure particulate matter only; every other code (also an unknown one) is taken
// to carry a gas channel as well.
const int kSingleChannel[] = {0,   1,   2,   3,   4,   5,   8,   40,  50,  100, 120,
                              130, 131, 150, 151, 152, 153, 155, 156, 157, 158, 255};
} // namespace

QByteArray SCodeUsb::ModelNameOf(int typeCode)
{
    for (const ModelEntry& model : kModels) {
        if (model.typeCode == typeCode)
            return QByteArray(model.name);
    }
    return QByteArray("error");
}

int SCodeUsb::ChannelCountOf(int typeCode)
{
    for (int code : kSingleChannel) {
        if (code == typeCode)
            return 1;
    }
    return 2;
}

int SCodeUsb::HistoryIntervalOf(int typeCode)
{
    switch (typeCode) {
    case 2:
        return 311;
    case 20:
        return 297;
    default:
        return 300;
    }
}

bool SCodeUsb::ReportsPM10Of(int typeCode)
{
    return typeCode == 130 || typeCode == 131;
}

bool SCodeUsb::UsesOldHistoryFormat(int typeCode)
{
    return typeCode == 0 || typeCode == 1 || typeCode == 3 || typeCode == 7;
}

QByteArray SCodeUsb::GetModelName() const { return ModelNameOf(m_TypeCode); }
int SCodeUsb::GetChannelCount() const { return ChannelCountOf(m_TypeCode); }
int SCodeUsb::GetHistoryInterval() const { return HistoryIntervalOf(m_TypeCode); }
