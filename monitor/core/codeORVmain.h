// Start-up of the monitor and the small procedures that several windows
// share: frame checksums, the pause, address conversion.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// Version information of the program.
namespace VersionInfo {
inline const QString CompanyName = QStringLiteral("Veltrane");
inline const QString ProductName = QStringLiteral("ORV Monitor");
inline const QString FileDescription = QStringLiteral("Monitoring software for ORV Automation Controllers");
inline const QString FileVersion = QStringLiteral("3.06");
inline const QString Comments = QStringLiteral("3.6");
inline const QString InternalName = QStringLiteral("orvmon");
inline const QString VersionLine = QStringLiteral("Version 3.6 Build 03/20/2024");
inline const QString PlatformLine = QStringLiteral("for XP, Windows 7,8,10 and 11");
inline const QString NoticeLine = QStringLiteral("Copyright (C) Veltrane. All rights reserved.");
}  // namespace VersionInfo

// The start-up procedure: splash, symbol file from the command line, main
// window. commandLine is the whole argument text. False when start-up failed
// and the program is to end.
bool Main(const QString &commandLine);

// Completes a request frame (start byte, length byte, code, arguments) with
// its checksum and end byte; the argument is completed too.
QByteArray AppendChecksum(QByteArray &frame);

// Waits while processing pending window events.
void Pause(float seconds);

// True when the system gives the program an IPv4 socket, which the host
// look-up and the network links need; False when it cannot (no descriptor
// left, IPv4 absent or forbidden).
bool StartWinsock();
// Dotted decimal text of a 4-byte address, first byte first.
QString IpFromBytes(const QByteArray &address);
// The first IPv4 address of a host name, dotted; empty when the name does not
// resolve.
QString IpFromHostName(const QString &hostName);
