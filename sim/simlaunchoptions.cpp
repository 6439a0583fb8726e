#include "simlauncher.h"

#include <charconv>
#include <cstdint>
#include <cstring>

namespace {

bool ParseInt(const std::string& text, long long min, long long max, long long* out, int base = 10)
{
    std::string t = text;
    if (base == 16 && t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        t = t.substr(2);
    long long v = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v, base);
    if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size() || v < min || v > max)
        return false;
    *out = v;
    return true;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out)
{
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        long long v = 0;
        if (!ParseInt(text.substr(i, 2), 0, 255, &v, 16))
            return false;
        out->push_back(uint8_t(v));
    }
    return true;
}

// "MS[,MS...]": times in milliseconds, each in [0, max].
bool ParseTimes(const std::string& text, long long max, std::vector<int>* out)
{
    size_t from = 0;
    for (;;) {
        const size_t comma = text.find(',', from);
        long long v = 0;
        if (!ParseInt(text.substr(from, comma == std::string::npos ? comma : comma - from), 0, max, &v))
            return false;
        out->push_back(int(v));
        if (comma == std::string::npos)
            return true;
        from = comma + 1;
    }
}

} // namespace

std::string SimLaunchUsage()
{
    return "usage: vostral-sensor-sim [options] -- <program> [args]\n"
           "Hosts a simulated air-quality sensor and runs the program with it plugged in.\n"
           "  --link usb|serial|none   where the sensor sits (default usb)\n"
           "  --type N                 device type code, 0..255 (default 130)\n"
           "  --name TEXT              device name, up to 4 characters (default LV51)\n"
           "  --serial HEX             serial number, 12 or 14 hex digits\n"
           "  --readings KIND         plausible[:SEED] | constant:PM25[,PM10[,GAS]] |\n"
           "                           ramp:START,STEP[,PERIOD] | script:A/B/C;A/B/C;...\n"
           "  --gas auto|none|formaldehyde|tvoc   the second channel (default auto)\n"
           "  --status 1|3             status byte of particulate frames\n"
           "  --history N              5-minute values in memory at start (default 288)\n"
           "  --history-capacity N     size of the history memory (default 4032, at most 4092)\n"
           "  --announce N             history count announced in packet 0 (default: real)\n"
           "  --usb-packet-number tracking|low-byte   how a USB history request's packet number\n"
           "                           is read: from the order of the requests (default), or\n"
           "                           as its low byte alone\n"
           "  --answer-delay MS        delay before each answer\n"
           "  --no-measurements        send no measurement frames\n"
           "  --vid HEX --pid HEX      USB or bridge identity\n"
           "  --hid-held               the kernel's HID driver holds the interface (usb)\n"
           "  --port NAME              serial port name (serial)\n"
           "  --drop-answers N         the first N answers are lost\n"
           "  --corrupt-frames N       the head byte of the first N frames is corrupted\n"
           "  --lose-bytes N           the first N bytes sent are lost (serial)\n"
           "  --silent-after MS        the device stops sending after MS milliseconds\n"
           "  --unplug-after MS        the device is pulled after MS milliseconds\n"
           "  --replug-after MS[,MS...]  the device is pulled after MS milliseconds and plugged\n"
           "                           in again (same sensor, same link) --replug-delay MS later;\n"
           "                           with a list, at each time (rising, each after the last\n"
           "                           plug-in)\n"
           "  --replug-delay MS        how long a replugged device stays out (default 3000)\n"
           "  --log FILE               write every request received to FILE at exit\n"
           "  --sent-log FILE          append every measurement delivered to the host to FILE as\n"
           "                           it leaves, one line each (whole numbers, raw as sent):\n"
           "                             WALL_MS MODEL_MS pm PM25 PM10\n"
           "                             WALL_MS MODEL_MS gas VALUE STATUS\n"
           "                           WALL_MS: real time (ms since 1970); MODEL_MS: the model's\n"
           "                           clock; PM in tenths of ug/m3, gas in thousandths of mg/m3,\n"
           "                           STATUS 17 formaldehyde, 33 TVOC\n";
}

bool SimParseLaunchOptions(const std::vector<std::string>& args, SimLaunchOptions* out,
                           std::string* error)
{
    SimLaunchOptions o;
    size_t i = 0;
    auto value = [&](const std::string& name, std::string* v) {
        if (i + 1 >= args.size()) {
            *error = name + " needs a value";
            return false;
        }
        *v = args[++i];
        return true;
    };
    auto number = [&](const std::string& name, long long min, long long max, long long* v,
                      int base = 10) {
        std::string text;
        if (!value(name, &text))
            return false;
        if (!ParseInt(text, min, max, v, base)) {
            *error = "bad value for " + name + ": " + text;
            return false;
        }
        return true;
    };
    long long n = 0;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        if (a == "--") {
            o.command.assign(args.begin() + long(i) + 1, args.end());
            break;
        } else if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--link") {
            if (!value(a, &v))
                return false;
            if (v == "usb")
                o.link = SimLaunchOptions::Link::Usb;
            else if (v == "serial")
                o.link = SimLaunchOptions::Link::Serial;
            else if (v == "none")
                o.link = SimLaunchOptions::Link::None;
            else {
                *error = "unknown link: " + v;
                return false;
            }
        } else if (a == "--type") {
            if (!number(a, 0, 255, &n))
                return false;
            o.sensor.typeCode = int(n);
        } else if (a == "--name") {
            if (!value(a, &v))
                return false;
            if (v.size() > 4) {
                *error = "a device name has at most 4 characters: " + v;
                return false;
            }
            v.resize(4, ' ');
            std::memcpy(o.sensor.name.data(), v.data(), 4);
        } else if (a == "--serial") {
            std::vector<uint8_t> bytes;
            if (!value(a, &v))
                return false;
            if ((v.size() != 12 && v.size() != 14) || !ParseHexBytes(v, &bytes)) {
                *error = "a serial number is 12 or 14 hex digits: " + v;
                return false;
            }
            o.sensor.serialNumber.fill(0);
            std::copy(bytes.begin(), bytes.end(), o.sensor.serialNumber.begin());
        } else if (a == "--readings") {
            if (!value(a, &v))
                return false;
            if (!SimReadingSource::Parse(v, &o.sensor.readings)) {
                *error = "bad readings: " + v;
                return false;
            }
        } else if (a == "--gas") {
            if (!value(a, &v))
                return false;
            if (v == "auto")
                o.sensor.gas = SimGas::Auto;
            else if (v == "none")
                o.sensor.gas = SimGas::None;
            else if (v == "formaldehyde")
                o.sensor.gas = SimGas::Formaldehyde;
            else if (v == "tvoc")
                o.sensor.gas = SimGas::Tvoc;
            else {
                *error = "unknown gas: " + v;
                return false;
            }
        } else if (a == "--status") {
            if (!number(a, 0, 255, &n))
                return false;
            o.sensor.pmStatus = uint8_t(n);
        } else if (a == "--history") {
            if (!number(a, 0, 4092, &n))
                return false;
            o.sensor.historyCount = int(n);
        } else if (a == "--history-capacity") {
            if (!number(a, 0, 4092, &n))
                return false;
            o.sensor.historyCapacity = int(n);
        } else if (a == "--announce") {
            if (!number(a, 0, 65535, &n))
                return false;
            o.sensor.announcedCount = int(n);
        } else if (a == "--usb-packet-number") {
            if (!value(a, &v))
                return false;
            if (v == "tracking")
                o.sensor.usbPacketNumber = SimUsbPacketNumber::Tracking;
            else if (v == "low-byte")
                o.sensor.usbPacketNumber = SimUsbPacketNumber::LowByte;
            else {
                *error = "unknown packet number reading: " + v;
                return false;
            }
        } else if (a == "--answer-delay") {
            if (!number(a, 0, 600000, &n))
                return false;
            o.sensor.answerDelayMs = int(n);
        } else if (a == "--no-measurements") {
            o.sensor.sendMeasurements = false;
        } else if (a == "--vid" || a == "--pid") {
            if (!number(a, 0, 0xFFFF, &n, 16))
                return false;
            (a == "--vid" ? o.usb.vendorId : o.usb.productId) = uint16_t(n);
            (a == "--vid" ? o.serial.vendorId : o.serial.productId) = uint16_t(n);
        } else if (a == "--hid-held") {
            o.usb.heldByHid = true;
        } else if (a == "--port") {
            if (!value(a, &v))
                return false;
            if (v.empty() || v.find('/') != std::string::npos) {
                *error = "bad port name: " + v;
                return false;
            }
            o.serial.portName = v;
        } else if (a == "--drop-answers" || a == "--corrupt-frames" || a == "--lose-bytes") {
            if (!number(a, 0, 1000000, &n))
                return false;
            (a == "--drop-answers" ? o.dropAnswers
                                   : a == "--corrupt-frames" ? o.corruptFrames : o.loseBytes) = int(n);
        } else if (a == "--silent-after" || a == "--unplug-after" || a == "--replug-delay") {
            if (!number(a, 0, 86400000, &n))
                return false;
            (a == "--silent-after"   ? o.silentAfterMs
             : a == "--unplug-after" ? o.unplugAfterMs
                                     : o.replugDelayMs) = int(n);
        } else if (a == "--replug-after") {
            if (!value(a, &v))
                return false;
            o.replugAfterMs.clear();
            if (!ParseTimes(v, 86400000, &o.replugAfterMs)) {
                *error = "bad value for " + a + ": " + v;
                return false;
            }
        } else if (a == "--log" || a == "--sent-log") {
            if (!value(a, a == "--log" ? &o.logPath : &o.sentLogPath))
                return false;
        } else {
            *error = "unknown option: " + a;
            return false;
        }
    }
    // Known only once --replug-delay is read, wherever it stands.
    for (size_t k = 1; k < o.replugAfterMs.size(); ++k) {
        if (int64_t(o.replugAfterMs[k]) <= int64_t(o.replugAfterMs[k - 1]) + o.replugDelayMs) {
            *error = "--replug-after: each pull must come after the plug-in before it ("
                     + std::to_string(o.replugAfterMs[k]) + " ms is not after "
                     + std::to_string(int64_t(o.replugAfterMs[k - 1]) + o.replugDelayMs) + " ms)";
            return false;
        }
    }
    if (!o.help && o.command.empty()) {
        *error = "no program given after --";
        return false;
    }
    *out = o;
    return true;
}
