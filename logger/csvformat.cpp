// The day files' text. Numbers go through QByteArray::number, which always writes a decimal
// point (printf follows LC_NUMERIC, which a Qt application takes from the user). Times:
// localtime.h.
#include "csvformat.h"

#include <QList>

#include <cmath>
#include <cstdio>

namespace {
constexpr int kColumns = 9;
constexpr int kMaxIntegerDigits = 9; // keeps every written value exact through a read-back
constexpr int kMaxTextField = 64;
constexpr int64_t kJulianDayOfEpoch = 2440588; // 1970-01-01
constexpr int64_t kEarliestSec = -2208902400LL; // 1900-01-02T00:00:00Z
constexpr int64_t kLatestSec = 253370678400LL;  // 9998-12-31T00:00:00Z

void AppendNumber(QByteArray& out, double value, int decimals)
{
    // Nothing that cannot be read back: a non-finite, negative or absurd value counts as absent
    // (concentrations are never below zero).
    if (!std::isfinite(value) || value < 0 || value >= 1e9)
        return;
    out += QByteArray::number(value, 'f', decimals);
}

// Printable ASCII without the separator or quotes: the fields need no quoting.
bool TextByteOk(char c)
{
    return c > ' ' && c < 0x7f && c != ',' && c != '"';
}

void AppendText(QByteArray& out, const QByteArray& text)
{
    for (int i = 0; i < text.size() && i < kMaxTextField; ++i)
        out += TextByteOk(text[i]) ? text[i] : '_';
}

// Digits only, at most maxDigits of them; -1 otherwise.
int64_t Digits(const char* p, int n, int maxDigits)
{
    if (n < 1 || n > maxDigits)
        return -1;
    int64_t v = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

// An empty field is absent (NaN); otherwise exactly digits.decimals.
bool ParseNumber(const QByteArray& f, int decimals, double* out)
{
    if (f.isEmpty()) {
        *out = LoggerReading::kAbsent;
        return true;
    }
    const int dot = f.indexOf('.');
    if (dot < 0 || f.size() - dot - 1 != decimals || (dot > 1 && f[0] == '0'))
        return false; // one way to write each value: no leading zeros
    if (Digits(f.constData(), dot, kMaxIntegerDigits) < 0 || Digits(f.constData() + dot + 1, decimals, decimals) < 0)
        return false;
    bool ok = false;
    *out = f.toDouble(&ok); // QByteArray::toDouble reads the C locale's numbers
    return ok;
}

// "YYYY-MM-DDTHH:MM:SS+HH:MM" to milliseconds since 1970.
bool ParseTime(const QByteArray& f, int64_t* out)
{
    static const char kShape[] = "dddd-dd-ddTdd:dd:dd+dd:dd";
    if (f.size() != int(sizeof kShape) - 1)
        return false;
    for (int i = 0; i < f.size(); ++i) {
        const char c = f[i];
        const bool ok = kShape[i] == 'd' ? (c >= '0' && c <= '9') : kShape[i] == '+' ? (c == '+' || c == '-') : c == kShape[i];
        if (!ok)
            return false;
    }
    const char* p = f.constData();
    const QDate date(int(Digits(p, 4, 4)), int(Digits(p + 5, 2, 2)), int(Digits(p + 8, 2, 2)));
    const int64_t hour = Digits(p + 11, 2, 2), minute = Digits(p + 14, 2, 2), second = Digits(p + 17, 2, 2);
    const int64_t offHour = Digits(p + 20, 2, 2), offMinute = Digits(p + 23, 2, 2);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59 || offHour > 23 || offMinute > 59)
        return false;
    const int64_t offset = (p[19] == '-' ? -1 : 1) * (offHour * 3600 + offMinute * 60);
    const int64_t local = (date.toJulianDay() - kJulianDayOfEpoch) * 86400 + hour * 3600 + minute * 60 + second;
    // Instants far enough from years 0 and 9999 that their local day in any zone has four digits.
    const int64_t utc = local - offset;
    if (utc < kEarliestSec || utc > kLatestSec)
        return false;
    *out = utc * 1000;
    return true;
}

bool ParseText(const QByteArray& f, QByteArray* out)
{
    if (f.size() > kMaxTextField)
        return false;
    for (char c : f)
        if (!TextByteOk(c))
            return false;
    *out = f;
    return true;
}
} // namespace

QByteArray Csv_Header()
{
    return "time,pm2_5 (ug/m3),pm10 (ug/m3),formaldehyde (mg/m3),tvoc (mg/m3),model,serial,readings,source\n";
}

QString Csv_DayFileName(const QDate& day, bool history, int part)
{
    char buf[48];
    snprintf(buf, sizeof buf, "%s%04d-%02d-%02d", history ? "history-" : "", day.year(), day.month(), day.day());
    QString name = QString::fromLatin1(buf);
    if (part > 1)
        name += QLatin1Char('-') + QString::number(part);
    return name + QStringLiteral(".csv");
}

QByteArray Csv_Line(const LoggerReading& r)
{
    QByteArray line = Csv_Time(r.timeMs);
    line.reserve(96);
    line += ',';
    AppendNumber(line, r.pm25, 1);
    line += ',';
    AppendNumber(line, r.pm10, 1);
    line += ',';
    if (r.gasKind == GasKind::Formaldehyde)
        AppendNumber(line, r.gas, 3);
    line += ',';
    if (r.gasKind == GasKind::Tvoc)
        AppendNumber(line, r.gas, 3);
    line += ',';
    AppendText(line, r.model);
    line += ',';
    AppendText(line, r.serial);
    line += ',';
    line += QByteArray::number(r.readings < 0 ? 0 : r.readings);
    line += r.history ? ",history\n" : ",live\n";
    return line;
}

bool Csv_ParseLine(const QByteArray& line, LoggerReading* out)
{
    const QList<QByteArray> f = line.split(',');
    if (f.size() != kColumns)
        return false;
    LoggerReading r;
    double formaldehyde = 0, tvoc = 0;
    if (!ParseTime(f[0], &r.timeMs) || !ParseNumber(f[1], 1, &r.pm25) || !ParseNumber(f[2], 1, &r.pm10)
        || !ParseNumber(f[3], 3, &formaldehyde) || !ParseNumber(f[4], 3, &tvoc) || !ParseText(f[5], &r.model)
        || !ParseText(f[6], &r.serial))
        return false;
    if (Reading_Has(formaldehyde) && Reading_Has(tvoc))
        return false; // one gas channel per model
    if (Reading_Has(formaldehyde)) {
        r.gas = formaldehyde;
        r.gasKind = GasKind::Formaldehyde;
    } else if (Reading_Has(tvoc)) {
        r.gas = tvoc;
        r.gasKind = GasKind::Tvoc;
    }
    const int64_t readings = Digits(f[7].constData(), f[7].size(), kMaxIntegerDigits);
    if (readings < 0 || (f[7][0] == '0' && f[7].size() > 1))
        return false;
    r.readings = int(readings);
    if (f[8] != "live" && f[8] != "history")
        return false;
    r.history = f[8] == "history";
    *out = r;
    return true;
}
