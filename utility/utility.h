#pragma once

#include <QIODevice>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

#include "platform/sysinfo.h"

// The application title: task-bar text and the caption of every message box.
extern const QString ApplicationTitle;

constexpr int CSIDL_LOCAL_APPDATA = 28;
constexpr int CSIDL_COMMON_APPDATA = 35;

// Environment variables and file helpers

QString ExtractUserName(const QString &name);
void SetPersistentEnvironmentVariable(const QString &name, const QString &value, bool machineWide);
void DeletePersistentEnvironmentVariable(const QString &name, bool machineWide);
bool CopyFileContents(const QString &source, const QString &destination);
// The same in two steps: the source opened under the copy's rules (throws as the copy
// does), then the copy from the stream.
std::unique_ptr<QIODevice> OpenCopySource(const QString &source, const QString &destination);
bool CopyFileContents(QIODevice &source, const QString &destination);

// System information

enum TOSProduct : quint8 {
    osWinNT, osWinSvrNT, osWin2K, osWin95, osWin98, osWinMe, osWin2000, osWinSvr2000,
    osWinXP, osWinSvr2003, osWinVista, osWinSvr2003R2, osWinSvr2008, osWin7,
    osWinSvr2008R2, osWin8, osWinSvr2012, osWin8Point1, osWinSvr2012R2, osWin10,
    osWinSvr2016, osWin11, osWinSvr2019, osWinSvr2022, osWinSvr2025, osUnknown
};

struct TOSVersionInfo {
    TOSProduct OSProduct = osUnknown;
    qint32 ProductType = 0; // the product type the server test saw (0 when not asked)
    QString Version;
    QString Caption;
    QString OSArchitecture;
    qint32 OSMajorNumber = 0;
    qint32 OSMinorNumber = 0;
    qint32 OSBuildNumber = 0;
};

// The identification as a pure function of the facts (tested row by row).
TOSVersionInfo OSVersionInfoFromFacts(const platform::OSFacts &facts);
TOSVersionInfo GetOSVersionInfo();

QString GetSpecialFolderPath(int csidl);

// The adapter report as a pure function of the platform's answer.
QStringList AdapterReportLines(quint32 error, const QList<platform::AdapterInfo> &adapters);
void GetNetworkAdaptersReport(QStringList &Lines);

QString GetLocalComputerName();
bool IsRemoteSession();
quint32 GetIdleMilliseconds();
bool IdleTimeAvailable();
bool IsAdministrator();

void GetExeVersionNumbers(quint16 &major, quint16 &minor, quint16 &release, quint16 &build);
QString GetExeVersion();
QString GetFileVersionString(const QString &path);
QString GetAppFolder();
