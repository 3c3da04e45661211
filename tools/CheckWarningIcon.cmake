# Runs the icon generator into a scratch folder and fails when its output
# differs from the committed resources/warning_icon.png, so the file cannot
# drift apart from the drawing.
#
# cmake -DGENERATOR=<make-warning-icon> -DSOURCE_DIR=<repo> -DWORK_DIR=<scratch> -P CheckWarningIcon.cmake

file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(
    COMMAND "${GENERATOR}" "${WORK_DIR}/warning_icon.png"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "make-warning-icon failed: ${result}")
endif()

execute_process(
    COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK_DIR}/warning_icon.png" "${SOURCE_DIR}/resources/warning_icon.png"
    RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
    message(FATAL_ERROR "resources/warning_icon.png is not what tools/MakeWarningIcon.cpp writes; run it again and commit its output")
endif()
