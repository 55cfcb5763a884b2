# Checks the export table of tescore.dll (cmake -DDLL=... -P): exactly the
# names programs use and the tests' fault switch, none decorated (no stdcall
# @n on i686).
execute_process(COMMAND objdump -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()
string(REGEX MATCH "Ordinal/Name Pointer. Table\n([^\n]+\n)+" table "${dump}")
# Rows look like "\t[   0] ArcCreateObject"; keep the names only.
string(REGEX REPLACE "Ordinal/Name Pointer. Table\n" "" table "${table}")
string(REGEX REPLACE "[\t ]*.[ 0-9]+. ([^\n]+)\n" "\\1;" names "${table}")
list(SORT names)
set(expected ArcCreateObject ArcGetFormatAt ArcGetFormatCount ArcGetFormatOf ArcSetPromptHandler ArcSetThreadPromptHandler ArcTestingSetFileFault CenterDialog
    FormatFileSize FormatFileTime GetProfileBinary GetProfileInt GetProfileString GetSectionKey PutProfileBinary
    PutProfileInt PutProfileString ShowRenameDialog)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports of ${DLL}:\n  ${names}\nexpected:\n  ${expected}")
endif()
message(STATUS "exports ok: ${names}")
