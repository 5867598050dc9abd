# cmake -DPROGRAM=exe -DOBJDUMP=objdump -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)
# Fails when the program imports a DLL that Windows could look for beside the program.
set(known_dlls
  advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf msvcrt
  normaliz nsi ntdll ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32
  ws2_32)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed: ${result}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "no import table found in ${PROGRAM}")
endif()
set(refused "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" lower)
  string(REGEX REPLACE "\\.dll$" "" base "${lower}")
  if(NOT base IN_LIST known_dlls OR NOT lower MATCHES "\\.dll$")
    list(APPEND refused "${dll}")
  endif()
  message(STATUS "imports ${dll}")
endforeach()
if(refused)
  message(FATAL_ERROR "imports outside the KnownDLLs: ${refused}")
endif()
