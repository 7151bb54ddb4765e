#pragma once

#include <QList>
#include <QString>

namespace platform {

// The facts the OS identification works on, gathered once at start.
struct OSFacts {
    bool windows = false;       // the product table applies only to Windows
    int major = 0, minor = 0, build = 0;
    bool nativeIs64 = false;    // native processor architecture is x64
    bool productInfoOk = false; // product type query succeeded
    quint32 productType = 0;
    bool serverR2 = false;      // SM_SERVERR2 (asked only for 5.2)
    QString nativeCaption;      // the system's own name off Windows
};
const OSFacts &GetOSFacts();
// Lowest major version number the client starts on.
int MinimumSupportedMajor();

// Special folders by CSIDL; empty when unknown. No trailing delimiter, not created.
QString SpecialFolderPath(int csidl);

QString ComputerName();

struct AdapterInfo {
    QString description, name;
    QByteArray address; // hardware address bytes
    QString ipAddress, ipMask, gateway;
    bool dhcpEnabled = false;
    QString dhcpServer;
    bool haveWins = false;
    QString primaryWins, secondaryWins;
};
// 0 on success, else a Windows-style code (232 = no adapters, 50 = not supported).
quint32 GetAdapters(QList<AdapterInfo> &adapters);

// Milliseconds since the last keyboard or mouse input; 0 when no source answers.
quint32 IdleMilliseconds();
bool IsRemoteSession();
bool IsAdministrator();

} // namespace platform
