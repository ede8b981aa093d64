# Makes a delay-import library for one DLL out of the toolchain's import library, with
# every name the import library offers, so that whatever the code calls resolves to it.
# Run as a script:
#   cmake -DNM=... -DDLLTOOL=... -DIMPORT_LIB=.../libshell32.a -DDLL=SHELL32.dll
#         -DOUT=.../libshell32_delay.a -P delay-import.cmake
execute_process(COMMAND ${NM} ${IMPORT_LIB} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@?$]+" imports "${symbols}")
list(TRANSFORM imports REPLACE " I __imp_" "")
list(REMOVE_DUPLICATES imports)
list(JOIN imports "\n" exports)
file(WRITE ${OUT}.def "LIBRARY ${DLL}\nEXPORTS\n${exports}\n")
execute_process(COMMAND ${DLLTOOL} --input-def ${OUT}.def --dllname ${DLL} --output-delaylib ${OUT}
                COMMAND_ERROR_IS_FATAL ANY)
