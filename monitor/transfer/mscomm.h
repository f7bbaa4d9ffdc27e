// A serial port as a window uses it directly, beside the library: line
// settings as text ("57600,n,8,1"), a port number, open and close, text out
// and whatever has come in. COM port n is the device that ORVCOMM_COM<n>
// names, else /dev/ttyS<n-1>, as for the library. The port is opened
// exclusively and fully raw.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

class MSComm {
public:
    MSComm() = default;
    ~MSComm();
    MSComm(const MSComm &) = delete;
    MSComm &operator=(const MSComm &) = delete;

    // Rate, parity (n, o, e, m, s), data bits and stop bits (1 or 2).
    QString Settings = QStringLiteral("9600,n,8,1");
    int16_t CommPort = 1;

    bool PortOpen() const { return fd_ >= 0; }
    // Opens the port with the settings, or closes it. A port that cannot be
    // opened or set up stays closed.
    void setPortOpen(bool open);
    // Sends the bytes (nothing while the port is closed).
    void Output(const QByteArray &bytes);
    // What has arrived since the last call, without waiting.
    QByteArray Input();
    // How many bytes Input() would return now (0 while the port is closed).
    int bytesWaiting() const;

    // The device of COM port n.
    static QString devicePath(int port);

private:
    bool open();
    void close();
    int fd_ = -1;
};
