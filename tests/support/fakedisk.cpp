// Stands in for the platform's drive query, so that samples have exact figures.
#include "tests/support/fakedisk.h"

#include "core/sampling.h"
#include "core/state.h"

ULONGLONG FakeDiskSize = 100 * GiB;
ULONGLONG FakeDiskFree = 25 * GiB;
bool FakeDiskFails = false;

bool QueryDiskSpace()
{
    if (FakeDiskFails) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    Monitor.DiskSize = FakeDiskSize;
    Monitor.DiskFree = FakeDiskFree;
    Monitor.i64FreeBytesToCaller = FakeDiskFree;
    return true;
}
