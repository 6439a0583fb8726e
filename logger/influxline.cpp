#include "influxline.h"

#include <cmath>

namespace {
void AppendField(QByteArray& out, const char* key, double value, int decimals)
{
    // The day files' own rule: nothing that is not a real concentration
    if (!std::isfinite(value) || value < 0 || value >= 1e9)
        return;
    out += out.endsWith(' ') ? "" : ",";
    out += key;
    out += '=';
    out += QByteArray::number(value, 'f', decimals); // never the locale's decimal comma
}

void AppendTag(QByteArray& out, const char* key, const QByteArray& value)
{
    if (value.isEmpty())
        return; // line protocol has no empty tag values
    out += ',';
    out += key;
    out += '=';
    out += Influx_EscapeTag(value);
}
} // namespace

QByteArray Influx_EscapeTag(const QByteArray& value)
{
    QByteArray out;
    out.reserve(value.size() + 4);
    for (char c : value) {
        if (c == ',' || c == '=' || c == ' ')
            out += '\\';
        // A line end would end the point itself: no escape can carry it
        out += (c == '\\' || c == '\n' || c == '\r') ? '_' : c;
    }
    return out;
}

int64_t Influx_TimeNs(int64_t timeMs, int part, int repeat)
{
    const int64_t sec = timeMs / 1000 - (timeMs % 1000 < 0 ? 1 : 0);
    const int64_t partNs = part > 1 ? int64_t(part - 1) * 1000 : 0;
    return sec * 1000000000LL + partNs + (repeat < 0 ? 0 : repeat > 999 ? 999 : repeat);
}

QByteArray Influx_Line(const LoggerReading& r, int64_t timeNs)
{
    QByteArray line = "air_quality";
    line.reserve(160);
    AppendTag(line, "serial", r.serial);
    AppendTag(line, "model", r.model);
    line += r.history ? ",source=history " : ",source=live ";
    const int fieldsAt = line.size();
    for (const ReadingQuantity& q : Reading_Quantities(r))
        AppendField(line, q.key, q.value, q.decimals);
    if (line.size() == fieldsAt)
        return QByteArray();
    if (r.readings > 1)
        line += ",readings=" + QByteArray::number(r.readings) + 'i';
    line += ' ';
    line += QByteArray::number(qint64(timeNs));
    return line;
}
