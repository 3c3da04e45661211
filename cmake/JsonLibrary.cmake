# JSON for the terminal's events (terminal/JsonEventWriter.cpp): nlohmann-json, a
# header-only library from Debian (nlohmann-json3-dev). trb_json is what a
# target links to reach it.
#
# The Windows build uses the build machine's copy too (headers only, no target
# code), but may not see the build machine's /usr/include as a whole: its
# other headers would take the place of the MinGW-w64 ones. A folder in the
# build tree holds only a link to /usr/include/nlohmann, and that folder is
# what the Windows build adds to its include path.

add_library(trb_json INTERFACE)

if(CMAKE_CROSSCOMPILING)
    find_path(TRB_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp
        PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT TRB_NLOHMANN_JSON_INCLUDE)
        message(FATAL_ERROR "nlohmann/json.hpp not found in /usr/include: install nlohmann-json3-dev (tools/install-deps.sh windows)")
    endif()
    set(json_only "${CMAKE_BINARY_DIR}/json-include")
    file(MAKE_DIRECTORY "${json_only}")
    file(CREATE_LINK "${TRB_NLOHMANN_JSON_INCLUDE}/nlohmann" "${json_only}/nlohmann" SYMBOLIC)
    target_include_directories(trb_json SYSTEM INTERFACE "${json_only}")
else()
    find_package(nlohmann_json 3.10 CONFIG REQUIRED)
    target_link_libraries(trb_json INTERFACE nlohmann_json::nlohmann_json)
endif()
