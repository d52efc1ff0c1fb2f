#pragma once

#include "serialport.h"

class QSerialPort;

namespace relo {

// SerialPort over QSerialPort (object name of the port: "MSComm1"). Port numbers
// map to devices through devicePathForPort(). Qt's lock file makes a device held
// by another process fail to open, even for root.
class RealSerialPort : public SerialPort
{
    Q_OBJECT
public:
    explicit RealSerialPort(QObject *parent = nullptr);
    ~RealSerialPort() override;

    OpenError openPort(int portNumber) override;
    void closePort() override;
    bool isOpen() const override;
    int portNumber() const override { return m_portNumber; }
    void setRts(bool on) override;
    bool send(const QByteArray &bytes) override;
    void drain() override;
    void setReceiveThreshold(int threshold, int inputLen) override;
    QByteArray drainInput() override;

private:
    void onReadyRead();
    void onError();

    QSerialPort *const m_serial;
    int m_portNumber = 0;
    int m_threshold = 0;
    int m_inputLen = 0;
};

} // namespace relo
