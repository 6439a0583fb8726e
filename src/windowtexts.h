#pragma once
// Texts the main window and the device dialog build from device data, and the maker's contact
// block of the About box.
#include <QByteArray>
#include <QString>

// A value field's text: tenths / 10 in general format with `precision` significant digits.
// From 100 upwards (tenths >= 1000) the fraction is dropped, so a busy day reads 123, not 123.7.
QString ShownValueText(double tenths, int precision);

// A device text (name or serial number as the codec keeps it) up to its first NUL byte. Names
// are a few raw bytes from the device: each byte becomes one character, so nothing is lost or
// turned into a replacement character.
QString DeviceText(const QByteArray& bytes);

// Source text (context "PM2_5") of the maker's contact block; the Chinese catalogue adds the
// postal address.
extern const char* const kMakerContactText;
