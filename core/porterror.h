#pragma once

#include "link/serialport.h"

#include <QString>

namespace relo {

// The name of port n wherever people see it: "Com - n".
QString portName(int portNumber);

// The line RELOKomut writes on standard error when port `portNumber` did not
// open: the port, its device (the adapter, when it is not plugged in) and the
// reason; for a missing permission also the remedy, which is membership of the
// group that owns the device and a new login.
//   Port Hatası: Com - 2 (/dev/ttyUSB0) açma izni yok: dialout grubuna üye olun
//   (sudo usermod -aG dialout kullanici), sonra oturumu kapatıp yeniden açın
// For a lock file left by a program that has ended, the file and its removal:
//   Port Hatası: Com - 2 (/dev/ttyUSB0) kilitli: kilit dosyası /run/lock/LCK..ttyUSB0
//   artık çalışmayan bir programdan kaldı ve silinemiyor; yönetici silmeli
//   (sudo rm /run/lock/LCK..ttyUSB0)
QString portErrorLine(int portNumber, SerialPort::OpenError error, const PortDevice &device);

} // namespace relo
