#include "gserialport.h"

// Placeholder: the serial link lands with the serial work.
GSerialPort::GSerialPort() : m_RxBuf(new unsigned char[kRxCapacity]()) {}
GSerialPort::~GSerialPort() { delete[] m_RxBuf; }
int GSerialPort::ScanPorts() { return 0; }
int GSerialPort::OpenDevicePort() { return 0; }
int GSerialPort::ReadBufFromPort(unsigned char*, int) { return 0; }
bool GSerialPort::AskDeviceInfo(unsigned char*, int) { return true; }
bool GSerialPort::AskDeviceSN(unsigned char*, int) { return true; }
bool GSerialPort::AskHistoryData(int, int, int) { return true; }
bool GSerialPort::ClearHistoryData() { return true; }
void GSerialPort::SetCheckSum(unsigned char*) {}
int GSerialPort::RxAppend(const char*, int) { return 0; }
int GSerialPort::RxTakeFrame(unsigned char*, int) { return 0; }
