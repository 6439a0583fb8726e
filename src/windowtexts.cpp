#include "windowtexts.h"

#include <QCoreApplication>
#include <cmath>

QString ShownValueText(double tenths, int precision)
{
    double value = tenths / 10;
    if (tenths >= 1000)
        value = std::trunc(value);
    return QString::number(value, 'g', precision);
}

QString DeviceText(const QByteArray& bytes)
{
    const int end = bytes.indexOf('\0');
    return QString::fromLatin1(end < 0 ? bytes : bytes.left(end));
}

const char* const kMakerContactText = QT_TRANSLATE_NOOP("PM2_5",
    "Vostral Sensor Works\n"
    "Web site: www.vostral.example.com\n"
    "Contact: Mira Example\n"
    "Telephone: 000-0000-0001\n"
    "Fax: 000-0000-0002\n"
    "E-mail: support@vostral.example.org");
