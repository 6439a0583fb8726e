#include "influxposition.h"

#include "csvformat.h"

#include <QList>

namespace {
const QByteArray kHeader = "vostral-logger influx position 1";
const QByteArray kEnd = "end";
constexpr int kMaxOffsetDigits = 15; // a petabyte: far beyond any day file, exact in a double

int Number(const QString& text, int from, int n)
{
    int v = 0;
    for (int i = from; i < from + n; ++i) {
        if (i >= text.size() || text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9'))
            return -1;
        v = v * 10 + (text[i].unicode() - '0');
    }
    return v;
}
} // namespace

bool Influx_ParseDayFileName(const QString& name, DayFileName* out)
{
    DayFileName f;
    f.history = name.startsWith(QLatin1String("history-"));
    const int at = f.history ? 8 : 0; // "YYYY-MM-DD" from here
    if (name.size() < at + 14 || !name.endsWith(QLatin1String(".csv")))
        return false;
    f.day = QDate(Number(name, at, 4), Number(name, at + 5, 2), Number(name, at + 8, 2));
    if (name.size() == at + 16 && name[at + 10] == QLatin1Char('-'))
        f.part = Number(name, at + 11, 1);
    // Only the one spelling the logger writes: no other name can stand for the same file
    if (!f.day.isValid() || f.part < 1 || Csv_DayFileName(f.day, f.history, f.part) != name)
        return false;
    *out = f;
    return true;
}

QByteArray InfluxPosition_Format(const InfluxPositions& positions)
{
    QByteArray text = kHeader + '\n';
    for (auto it = positions.begin(); it != positions.end(); ++it)
        text += it.key().toLatin1() + ' ' + QByteArray::number(qint64(it.value())) + '\n';
    return text + kEnd + '\n';
}

bool InfluxPosition_Parse(const QByteArray& text, InfluxPositions* out, QString* why)
{
    if (text.size() > kInfluxPositionMaxBytes) {
        *why = QStringLiteral("larger than %1 bytes").arg(int(kInfluxPositionMaxBytes));
        return false;
    }
    if (!text.endsWith('\n')) {
        *why = QStringLiteral("cut off (no line end at the end)");
        return false;
    }
    const QList<QByteArray> lines = text.left(text.size() - 1).split('\n');
    if (lines.first() != kHeader) {
        *why = QStringLiteral("not a position file (first line)");
        return false;
    }
    if (lines.last() != kEnd || lines.size() < 2) {
        *why = QStringLiteral("cut off (no end line)");
        return false;
    }
    if (lines.size() - 2 > kInfluxPositionMaxFiles) {
        *why = QStringLiteral("more than %1 files").arg(int(kInfluxPositionMaxFiles));
        return false;
    }
    InfluxPositions positions;
    for (int i = 1; i + 1 < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const int space = line.indexOf(' ');
        const QByteArray offset = line.mid(space + 1);
        DayFileName name;
        bool digits = space > 0 && !offset.isEmpty() && offset.size() <= kMaxOffsetDigits
                      && (offset.size() == 1 || offset[0] != '0');
        for (char c : offset)
            digits = digits && c >= '0' && c <= '9';
        const QString file = QString::fromLatin1(line.left(space < 0 ? 0 : space));
        if (!digits || !Influx_ParseDayFileName(file, &name) || positions.contains(file)) {
            *why = QStringLiteral("line %1 is not a day file and its offset").arg(i + 1);
            return false;
        }
        positions.insert(file, offset.toLongLong());
    }
    *out = positions;
    return true;
}
