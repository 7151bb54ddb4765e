#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

namespace platform {

// A small named block of shared memory that every copy of a program sees, with a lock
// that serialises each copy's look at it. The block starts afresh whenever no live copy
// holds it, so a copy that died without letting go never leaves stale content behind.
// A name may hold any characters; each backend maps it to a valid object name of its own.
class SharedBlock {
public:
    struct View {
        quint32 Handle; // offset 0
        quint32 Count;  // offset 4
    };

    // view is nullptr when the block could not be mapped.
    using OpenStep = std::function<void(View *view, bool existed)>;
    using UpdateStep = std::function<void(View *view)>;

    explicit SharedBlock(const QString &name);
    ~SharedBlock();
    SharedBlock(const SharedBlock &) = delete;
    SharedBlock &operator=(const SharedBlock &) = delete;

    // Opens or creates the block and holds it until Close(); STEP runs on it while every
    // other copy is locked out. existed = a live copy had made it. Raises EOSError when
    // the block cannot be made.
    void Open(const OpenStep &step);
    // Runs STEP on the open block under the same lock; nothing when it is not open.
    void Update(const UpdateStep &step);
    // Lets go of the block; the last copy to let go discards it.
    void Close();
    bool IsOpen() const { return m_handle != -1; }

    // Reads the block without holding it; false when no live copy holds it.
    static bool Peek(const QString &name, View &view);
    // Discards a block that no live copy holds (what killed copies left behind).
    static void Remove(const QString &name);

private:
    QString m_name;
    qintptr m_handle = -1;
};

} // namespace platform
