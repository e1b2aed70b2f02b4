#pragma once

#include <QString>

namespace kernwell::localservice {

// An exclusive lock on the data folder for as long as the service runs: two
// services on one folder would overwrite each other's accounts. The lock
// file holds the owner's process id, for the message the next one gives.
class DataFolderLock {
public:
    // Throws std::runtime_error, naming the folder and the process holding
    // it, when another process has the lock or the lock file cannot be made.
    // An empty `dataDir` (nothing persisted) locks nothing.
    explicit DataFolderLock(const QString& dataDir);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

private:
    int m_descriptor = -1;
};

} // namespace kernwell::localservice
