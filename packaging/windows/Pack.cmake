# Makes the Windows program's two packages from its .exe, in this order, so that
# what a user gets is signed everywhere (tools/sign-windows.sh; nothing is signed
# without a certificate):
#   1. the .exe, without its debug information, signed, in the stage folder;
#   2. the portable zip of that .exe, the README and the licence;
#   3. the installer of the same three files (wixl), then the installer signed.
# Run by the build (packaging/windows/CMakeLists.txt) and by the tests that make
# other versions of the installer:
#
#   cmake -DSETTINGS=PackSettings.cmake -DPROGRAM=X.exe -DVERSION=1.0.0 \
#         -DSTAGE=dir -DZIP=out.zip -DMSI=out.msi -P Pack.cmake
#
# The installer's product code is made from the upgrade code and the version:
# each version has one of its own, and a rebuild of a version keeps it, so that
# Windows Installer takes a newer version for an upgrade of the older and never
# lists one version twice.
cmake_minimum_required(VERSION 3.22)

foreach(required SETTINGS PROGRAM VERSION STAGE ZIP MSI)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "Pack.cmake needs -D${required}=...")
    endif()
endforeach()
include("${SETTINGS}")

function(run)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${STAGE}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed (${status}): ${ARGN}")
    endif()
endfunction()

file(MAKE_DIRECTORY "${STAGE}")
set(exe "${STAGE}/${TRB_PROGRAM_NAME}.exe")
file(COPY_FILE "${PROGRAM}" "${exe}")
# What a user gets has no debug information, which is most of the build's .exe.
run("${TRB_STRIP}" --strip-debug "${exe}")
run("${TRB_SIGN}" "${exe}")
file(COPY_FILE "${TRB_README}" "${STAGE}/README.md")
file(COPY_FILE "${TRB_LICENCE}" "${STAGE}/LICENSE.txt")

file(REMOVE "${ZIP}" "${MSI}")
run("${TRB_ZIP}" -q -X -j "${ZIP}" "${exe}" "${STAGE}/README.md" "${STAGE}/LICENSE.txt")

string(UUID TRB_WINDOWS_PRODUCT_CODE NAMESPACE "${TRB_WINDOWS_UPGRADE_CODE}" NAME "${VERSION}" TYPE SHA1 UPPER)
set(PROJECT_VERSION "${VERSION}")
configure_file("${TRB_WXS_IN}" "${STAGE}/TRBKelo7Updater.wxs" @ONLY)
# wixl reads the files it installs from its working directory.
run("${TRB_WIXL}" --arch x64 -o "${MSI}" TRBKelo7Updater.wxs)
run("${TRB_SIGN}" "${MSI}")
