// Put ahead of every C++ source by cmake/footprint.cmake, which says why: the platform's
// printf family rather than MinGW's own copy.
#define __USE_MINGW_ANSI_STDIO 0
#include <stdio.h>
