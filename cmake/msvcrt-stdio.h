// Put ahead of every C++ source by the build. The C++ headers switch MinGW's own printf
// family on, about 10 KB of code in each program; this keeps the platform's (msvcrt.dll),
// so numbers read as in every other program on the system (an exact tie such as 5.125
// shows "5.13"). stdio.h chooses at its first inclusion, before any C++ header can.
#define __USE_MINGW_ANSI_STDIO 0
#include <stdio.h>
