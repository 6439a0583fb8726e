#pragma once
// The sensor's frame layout, as the device sees it.
// A message has 20 positions: 0 is the transport byte (the report number on USB, not sent on the
// serial wire), 1 the head 0xAA, 2 the command or type, 3..17 data (little-endian words),
// 18 the checksum (sum of 3..17 modulo 256) and 19 the tail 0xAB. On the serial wire a frame is
// positions 1..19.
#include <array>
#include <cstdint>
#include <ctime>

using SimMessage = std::array<uint8_t, 20>;

constexpr uint8_t kSimHead = 0xAA;
constexpr uint8_t kSimTail = 0xAB;
constexpr int kSimFrameLen = 19;     // bytes on the serial wire
constexpr int kSimMessageLen = 20;   // bytes of a USB transfer

// Frame types and request commands
constexpr uint8_t kSimMeasurement = 0xA5;
constexpr uint8_t kSimIdentity = 0xA6;
constexpr uint8_t kSimOldHistory = 0xAC;
constexpr uint8_t kSimHistory = 0xAD;
constexpr uint8_t kSimSerialNumber = 0xB5;

// Kind echoes of a 0xAD answer
constexpr uint8_t kSimEchoPrimary = 1;
constexpr uint8_t kSimEchoPm10 = 5;
constexpr uint8_t kSimEchoCleared = 0xFD;
constexpr uint8_t kSimEchoCount = 0xFE;

uint8_t SimChecksum(const SimMessage& m);
// A frame of the given type with all data zero, head, tail and checksum set.
SimMessage SimMakeFrame(uint8_t type);
// Recomputes the checksum and sets head and tail after the data positions were filled.
void SimSeal(SimMessage& m);
void SimPutWord(SimMessage& m, int pos, uint16_t value);
uint16_t SimWord(const SimMessage& m, int pos);
// A message from the 19 bytes of a serial frame (position 0 left zero).
SimMessage SimFromWire(const uint8_t* frame19);
// True when head, tail and checksum are right.
bool SimFrameValid(const SimMessage& m);

// The device's date word for a local time: year-2015 and month in byte 0, day, hour and minute
// in bytes 1..3; seconds are dropped. Years outside 2015..2030 are clamped.
uint32_t SimDateWord(time_t secs);
// The local time a date word names (seconds 0); used by tests to check what the device sent.
time_t SimDateWordToTime(uint32_t word);
