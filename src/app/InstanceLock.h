#pragma once

#include <QString>

// Keeps one running copy per user and per application folder: a lock on a file
// in the user's runtime folder, held for the life of the process. The kernel
// drops the lock when the holder ends, however it ends, so a crashed or killed
// copy never blocks the next start.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    enum class Result { Acquired, HeldElsewhere, Unavailable };
    // Unavailable: no lock could be made (no usable runtime folder); the caller
    // lets the program start rather than lock the operator out.
    Result tryAcquire(const QString& applicationFolder);
    void release();
    bool held() const { return m_fd >= 0; }

    // The lock file for an application folder, in the current user's runtime folder.
    static QString lockFileFor(const QString& applicationFolder);

private:
    int m_fd = -1;
};
