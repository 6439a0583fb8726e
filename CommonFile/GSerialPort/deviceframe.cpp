#include "deviceframe.h"

#include <cstring>

unsigned char Frame_Sum(const unsigned char* message)
{
    unsigned char sum = 0;
    for (int pos = 3; pos <= 17; ++pos)
        sum = static_cast<unsigned char>(sum + message[pos]);
    return sum;
}

void Frame_Begin(unsigned char* message, unsigned char command)
{
    memset(message, 0, kFrameMessageLength);
    message[kFramePosHead] = kFrameHead;
    message[kFramePosType] = command;
    message[kFramePosTail] = kFrameTail;
}

void Frame_SetCheckSum(unsigned char* message)
{
    message[kFramePosChecksum] = 0;
    message[kFramePosChecksum] = Frame_Sum(message);
}
