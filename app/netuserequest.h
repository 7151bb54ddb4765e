#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// `tavrologin net use ...`: what a logon script asks the running copy, the line that
// carries it over the local socket, and the answer that comes back.
struct TNetUseRequest {
    enum Kind { List, Map, Delete };
    Kind kind = List;
    QString local;  // "H:", "*" (the next free letter), or empty (deviceless)
    QString remote; // \\server\share for a map; for a delete, the drive or \\server\share
    bool operator==(const TNetUseRequest &) const = default;
};

// The words after "net use", as Windows' net use takes them. Credentials are refused:
// the running copy uses the session it holds for the server.
std::optional<TNetUseRequest> ParseNetUseArguments(const QStringList &args, QString *error);

// One line, fields separated by tabs, at most MaxNetUseLine bytes with its line end.
constexpr qsizetype MaxNetUseLine = 4096;
QByteArray EncodeNetUseRequest(const TNetUseRequest &request);
// Refuses anything but a well-formed request: wrong field counts, control characters,
// overlong lines, malformed drive names.
std::optional<TNetUseRequest> DecodeNetUseRequest(const QByteArray &line);

// The answer: the exit code on the first line, then the text for the script's output
// (standard output on success, standard error otherwise).
struct TNetUseReply {
    int exitCode = 0;
    QString text;
};
QByteArray EncodeNetUseReply(const TNetUseReply &reply);
std::optional<TNetUseReply> DecodeNetUseReply(const QByteArray &bytes);
