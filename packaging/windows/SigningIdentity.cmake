# Prints who signs the Windows files (tools/sign-windows.sh --identity) and writes
# it to STAMP only when it differs from what is there, so that what depends on
# STAMP is made again only when the certificate changes.
#
#   cmake -DSIGN=tools/sign-windows.sh -DSTAMP=file -P SigningIdentity.cmake
execute_process(COMMAND "${SIGN}" --identity
    OUTPUT_VARIABLE identity OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "The code-signing certificate cannot be used (${status})")
endif()
message(STATUS "${identity}")

set(previous "")
if(EXISTS "${STAMP}")
    file(READ "${STAMP}" previous)
endif()
if(NOT previous STREQUAL identity)
    file(WRITE "${STAMP}" "${identity}")
endif()
