#pragma once
// The launcher: hosts one simulated sensor on an emulated bus and runs a program as its child
// under libumockdev-preload, so that the program's own libusb or Qt SerialPort code finds the
// sensor as if it were plugged in.
//
//   vostral-sensor-sim [options] -- <program> [args]
#include "sensormodel.h"
#include "simserialbridge.h"
#include "simusbdevice.h"

#include <string>
#include <vector>

struct SimLaunchOptions {
    enum class Link { Usb, Serial, None };
    Link link = Link::Usb;
    SensorConfig sensor;
    SimUsbOptions usb;
    SimSerialOptions serial;
    int dropAnswers = 0;
    int corruptFrames = 0;
    int loseBytes = 0;          // serial only: bytes lost from the first frames
    int silentAfterMs = -1;     // the device stops sending after this long
    int unplugAfterMs = -1;     // the device is pulled after this long
    std::vector<int> replugAfterMs;   // the device is pulled at each of these times (rising) ...
    int replugDelayMs = 3000;         // ... and plugged in again this much later
    std::string logPath;        // every request the device received, one hex line each, at exit
    std::string sentLogPath;    // every measurement delivered to the host, as it goes (simsentlog.h)
    bool help = false;
    std::vector<std::string> command;
};

// Parses the options before "--" and takes the rest as the command. False with a message on
// anything it does not understand.
bool SimParseLaunchOptions(const std::vector<std::string>& args, SimLaunchOptions* out,
                           std::string* error);
std::string SimLaunchUsage();

// Hosts the sensor, runs the command and returns its exit code (128 + signal when it was
// killed, 127 when it could not be started, 1 when the sensor could not be set up).
// SIGINT, SIGTERM and SIGHUP are passed on to the child.
int SimRunLauncher(const SimLaunchOptions& options);
