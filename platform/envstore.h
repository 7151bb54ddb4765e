#pragma once

#include <QString>

// The persistent environment: per-user or machine-wide variables that programs
// started later by the desktop receive.
namespace platform {

void SetProcessVariable(const QString &name, const QString &value);
void UnsetProcessVariable(const QString &name);

// Why VALUE can never be kept in the persistent store (empty when it can).
QString EnvironmentValueProblem(const QString &value);
// Store a variable at user or machine scope; false when the store cannot be written.
bool StoreEnvironmentVariable(bool machineWide, const QString &name, const QString &value);
// Remove it; false when the store could not be opened (a missing variable is not an error).
bool RemoveEnvironmentVariable(bool machineWide, const QString &name);
// Tell the running session that the environment changed; best effort.
void BroadcastEnvironmentChange(const QString &name, const QString *value);

} // namespace platform
