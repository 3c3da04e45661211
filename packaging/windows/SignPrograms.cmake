# Authenticode signatures of the Windows programs, when the build's environment
# names a code-signing certificate (tools/sign-windows.sh): each .exe is signed as
# soon as it is linked, and the packages sign what they hold (Pack.cmake).
#
# Every build asks the signing tool who signs, says it in one line, and keeps it in
# a file that changes only when the answer does: a new certificate, or one given
# where there was none, links and signs the programs and packs them again.
# Included from the top CMakeLists.txt, where the two programs are made.
set(TRB_SIGN "${PROJECT_SOURCE_DIR}/tools/sign-windows.sh")
set(TRB_SIGNING_IDENTITY "${CMAKE_BINARY_DIR}/windows-signing-identity.txt")

add_custom_target(trb_signing_identity
    COMMAND "${CMAKE_COMMAND}" -DSIGN=${TRB_SIGN} -DSTAMP=${TRB_SIGNING_IDENTITY}
        -P "${CMAKE_CURRENT_LIST_DIR}/SigningIdentity.cmake"
    BYPRODUCTS "${TRB_SIGNING_IDENTITY}"
    VERBATIM)

foreach(program TRBKelo7UpdateProgram TRBKelo7UpdateDemo)
    add_dependencies(${program} trb_signing_identity)
    set_property(TARGET ${program} APPEND PROPERTY LINK_DEPENDS "${TRB_SIGNING_IDENTITY}")
    add_custom_command(TARGET ${program} POST_BUILD
        COMMAND "${TRB_SIGN}" "$<TARGET_FILE:${program}>"
        VERBATIM)
endforeach()
