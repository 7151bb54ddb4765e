#pragma once

#include "platform/errors.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace platform {
class SharedBlock;
}

class EInstanceControl : public Exception {
public:
    using Exception::Exception;
};

class TadpInstanceControl;
using TMaxInstancesReachedEvent = std::function<void(TadpInstanceControl *Sender, quint32 LastInstanceHandle)>;

// Limits how many copies of the program run at once. The owning window calls Loaded()
// once its components are set up and before it is shown.
class TadpInstanceControl : public QObject {
    Q_OBJECT
public:
    explicit TadpInstanceControl(QObject *owner);
    ~TadpInstanceControl() override;

    // The instance check.
    void Loaded();

    bool Enabled() const { return fEnabled; }
    void setEnabled(bool value) { fEnabled = value; }
    quint32 MaxInstances() const { return fMaxInstances; }
    void setMaxInstances(quint32 value) { fMaxInstances = value; }

    TMaxInstancesReachedEvent OnMaxInstancesReached;

    // The block name for a program path: every "\" and every space removed.
    static QString MappingNameFor(const QString &programPath);

signals:
    // This copy restored and raised its window because another copy asked it to.
    void BroughtForward();

private:
    void DoMaxInstancesReached(quint32 LastInstanceHandle);
    void ComeForward();

    QString fMappingName;
    std::unique_ptr<platform::SharedBlock> fMappingHandle;
    bool fRemoveMe = true;
    bool fEnabled = true;
    quint32 fMaxInstances = 1;
};
