// The drive figures that test programs linking fakedisk.cpp give the sampler.
#pragma once

#include <windows.h>

extern ULONGLONG FakeDiskSize;
extern ULONGLONG FakeDiskFree;
extern bool FakeDiskFails;

const ULONGLONG GiB = 1073741824ull;
