// The one place that asks the platform for a drive's byte counts. Tests link their own
// version of QueryDiskSpace to give the sampler exact figures.
#include "core/sampling.h"

#include "core/state.h"

typedef BOOL(WINAPI *GetDiskFreeSpaceExProc)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

bool QueryDiskSpace()
{
    // Looked up on every sample, so the program also starts where the call is missing.
    GetDiskFreeSpaceExProc query = reinterpret_cast<GetDiskFreeSpaceExProc>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA")));
    ULARGE_INTEGER caller, total, free;
    if (!query || !query(Monitor.pszDrive, &caller, &total, &free))
        return false;
    Monitor.i64FreeBytesToCaller = caller.QuadPart;
    Monitor.DiskSize = total.QuadPart;
    Monitor.DiskFree = free.QuadPart;
    return true;
}
