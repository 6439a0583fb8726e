#pragma once
// The 20-byte message both links carry. Position 0 is the transport byte (0x02 on USB writes,
// never sent on the serial wire), 1 the head 0xAA, 2 the command or type, 3..17 data bytes with
// little-endian words, 18 the checksum (sum of 3..17 modulo 256) and 19 the tail 0xAB.
#include <cstdint>

enum {
    kFrameMessageLength = 20,
    kFrameHead = 0xAA,
    kFrameTail = 0xAB,
    kFramePosHead = 1,
    kFramePosType = 2,
    kFramePosChecksum = 18,
    kFramePosTail = 19,
};

// Sum of the data positions 3..17 with 8-bit wrap-around.
unsigned char Frame_Sum(const unsigned char* message);

// Zeroes the 20 bytes and sets head, command and tail; the caller fills the data positions
// and then calls Frame_SetCheckSum.
void Frame_Begin(unsigned char* message, unsigned char command);
void Frame_SetCheckSum(unsigned char* message);

// Little-endian 16- and 32-bit values at a message position.
inline uint16_t Frame_Word(const unsigned char* message, int pos)
{
    return uint16_t(message[pos] | (message[pos + 1] << 8));
}
inline uint32_t Frame_DWord(const unsigned char* message, int pos)
{
    return uint32_t(message[pos]) | uint32_t(message[pos + 1]) << 8 | uint32_t(message[pos + 2]) << 16
           | uint32_t(message[pos + 3]) << 24;
}
