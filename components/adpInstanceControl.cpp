#include "components/adpInstanceControl.h"

#include "platform/bringforward.h"
#include "platform/messageloop.h"
#include "platform/paths.h"
#include "platform/sharedblock.h"

#include <QCoreApplication>
#include <QWidget>

namespace {

TadpInstanceControl *g_guard = nullptr;

void FreeGuardAtExit()
{
    delete g_guard;
}

QObject *AdmitGuard(QObject *owner)
{
    if (g_guard)
        throw EInstanceControl(QStringLiteral("Only one copy of this component can be dropped on a form!"));
    return owner;
}

QWidget *OwnerWindow(QObject *owner)
{
    auto *widget = qobject_cast<QWidget *>(owner);
    return widget ? widget->window() : nullptr;
}

} // namespace

TadpInstanceControl::TadpInstanceControl(QObject *owner) : QObject(AdmitGuard(owner))
{
    g_guard = this;
    // A guard nobody freed still withdraws when the application ends.
    static const bool registered = [] {
        qAddPostRoutine(FreeGuardAtExit);
        return true;
    }();
    Q_UNUSED(registered);
}

TadpInstanceControl::~TadpInstanceControl()
{
    if (g_guard == this)
        g_guard = nullptr;
    if (!fMappingHandle)
        return;
    // A registered copy withdraws even if it was disabled meanwhile; otherwise the count
    // would stay too high for as long as any other copy runs.
    if (fRemoveMe) {
        platform::StopServingBringForward();
        try {
            fMappingHandle->Update([](platform::SharedBlock::View *view) {
                if (view && view->Count > 0)
                    --view->Count;
            });
        } catch (const Exception &) {
            // The lock cannot be had; closing below still lets the block start afresh
            // once no copy holds it.
        }
    }
    fMappingHandle.reset();
}

QString TadpInstanceControl::MappingNameFor(const QString &programPath)
{
    QString name = programPath;
    name.remove(QLatin1Char('\\'));
    name.remove(QLatin1Char(' '));
    return name;
}

void TadpInstanceControl::Loaded()
{
    if (!fEnabled || fMappingHandle || !fRemoveMe)
        return;
    fMappingName = MappingNameFor(platform::ExecutablePath());

    auto block = std::make_unique<platform::SharedBlock>(fMappingName);
    bool surplus = false;
    quint32 last = 0;
    // Check and count in one step under the block's lock, so that copies starting at the
    // same instant neither both pass a full limit nor lose an update.
    block->Open([&](platform::SharedBlock::View *view, bool existed) {
        if (!view)
            return;
        if (existed && view->Count >= fMaxInstances) {
            last = view->Handle;
            surplus = true;
            return;
        }
        // Reachable before any other copy can read our handle.
        platform::ServeBringForward(fMappingName, [this] { ComeForward(); });
        view->Handle = platform::ApplicationHandle();
        view->Count = existed ? view->Count + 1 : 1;
    });
    fMappingHandle = std::move(block);

    if (surplus) {
        fRemoveMe = false;
        // Not counted, so it must not keep the block looking alive either.
        fMappingHandle.reset();
        DoMaxInstancesReached(last);
    }
}

void TadpInstanceControl::DoMaxInstancesReached(quint32 LastInstanceHandle)
{
    platform::SetShowMainForm(false);
    if (QWidget *window = OwnerWindow(parent()))
        window->hide();
    if (OnMaxInstancesReached)
        OnMaxInstancesReached(this, LastInstanceHandle);
    platform::BringForward(fMappingName, LastInstanceHandle);
    platform::Terminate();
}

void TadpInstanceControl::ComeForward()
{
    if (QWidget *window = OwnerWindow(parent())) {
        // A hidden window's minimised state is only a record: clearing it would map the
        // window behind the toolkit's back, an empty frame that is never painted.
        if (window->isVisible() && window->isMinimized())
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->raise();
        window->activateWindow();
    }
    emit BroughtForward();
}
