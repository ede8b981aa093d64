# The settings that keep the program small and quick to start. Included by the top-level
# CMakeLists.txt after the vellmark_core library is defined.

# The platform's printf family (msvcrt.dll) instead of MinGW's own copy. The C++ headers
# switch MinGW's copy on, about 10 KB of code in each program; stdio.h chooses at its
# first inclusion, so a header that includes it with the switch off is put ahead of every
# C++ source. It also makes numbers read as in every other program on the system: an
# exact tie such as 5.125 shows "5.13".
target_compile_options(vellmark_core PUBLIC
  "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/msvcrt-stdio.h>")

# The tray (SHELL32) and the mail (WS2_32) are loaded at their first call rather than at
# start-up, which the window then does not wait for. The toolchain has no delay-import
# libraries, so each is made here from its import library, with every name it offers
# (cmake/delay-import.cmake). The program checks that a DLL loads before its first call.
foreach(dll shell32 ws2_32)
  find_library(${dll}_IMPORT_LIB ${dll} REQUIRED)
  set(delay_lib ${CMAKE_BINARY_DIR}/delay/lib${dll}_delay.a)
  add_custom_command(OUTPUT ${delay_lib}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL} -DIMPORT_LIB=${${dll}_IMPORT_LIB}
      -DDLL=${dll}.dll -DOUT=${delay_lib} -P ${CMAKE_CURRENT_LIST_DIR}/delay-import.cmake
    DEPENDS ${${dll}_IMPORT_LIB} ${CMAKE_CURRENT_LIST_DIR}/delay-import.cmake)
  add_custom_target(${dll}_delay DEPENDS ${delay_lib})
  add_dependencies(vellmark_core ${dll}_delay)
  target_link_libraries(vellmark_core PUBLIC ${delay_lib})
endforeach()
