#pragma once

#include <QString>

namespace kernwell {

// One Kernwell per user data folder: an exclusive lock on a file in it, held
// for the life of this object. Two processes of one user that do not meet on
// a session bus (two logins, a launch without a bus) would otherwise
// register, withdraw and delete the same fonts. The lock goes with the
// process, however it ends, and is not inherited by programs it starts.
class DataFolderLock {
public:
    // Creates `folder` when missing and takes the lock without waiting.
    explicit DataFolderLock(const QString& folder);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    bool isHeld() const { return m_descriptor >= 0; }
    // Why the lock is not held, in words for the user; empty while held.
    const QString& problem() const { return m_problem; }

private:
    int m_descriptor = -1;
    QString m_problem;
};

} // namespace kernwell
