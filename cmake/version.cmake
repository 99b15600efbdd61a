# The version the programs carry, and the date a build may name.
#
# ORVANE_VERSION: MAJOR.MINOR.PATCH with anything after it (1.4.0, 1.4.0-rc1, 1.4.0-12-g1a2b3c4).
# Empty takes scripts/version's answer for this checkout when the tree is configured. The
# version block shows the whole text, and MAJOR.MINOR.PATCH.N as its numbers, N being the count
# after the first dash (commits since the tag) or 0.
#
# SOURCE_DATE_EPOCH (the environment's; otherwise the last commit's time): the copyright year.
# Nothing in a build reads the clock, so two builds of one commit give the same bytes.
set(ORVANE_VERSION "" CACHE STRING "The programs' version; empty: from git (scripts/version)")

if(ORVANE_VERSION STREQUAL "")
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/version
                    OUTPUT_VARIABLE ORVANE_VERSION_TEXT OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE version_result)
    if(NOT version_result EQUAL 0)
        message(FATAL_ERROR "scripts/version failed: set ORVANE_VERSION")
    endif()
else()
    set(ORVANE_VERSION_TEXT "${ORVANE_VERSION}")
endif()

if(NOT ORVANE_VERSION_TEXT MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)(-([0-9]+))?")
    message(FATAL_ERROR "ORVANE_VERSION \"${ORVANE_VERSION_TEXT}\" does not start with MAJOR.MINOR.PATCH")
endif()
set(ORVANE_VERSION_NUMBERS ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} 0)
if(CMAKE_MATCH_5)
    list(POP_BACK ORVANE_VERSION_NUMBERS)
    list(APPEND ORVANE_VERSION_NUMBERS ${CMAKE_MATCH_5})
endif()
foreach(number ${ORVANE_VERSION_NUMBERS})
    if(number GREATER 65535)
        message(FATAL_ERROR "ORVANE_VERSION \"${ORVANE_VERSION_TEXT}\": ${number} is above 65535")
    endif()
endforeach()
string(REPLACE ";" ", " ORVANE_VERSION_COMMAS "${ORVANE_VERSION_NUMBERS}")
message(STATUS "Version: ${ORVANE_VERSION_TEXT}")

if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE git_result ERROR_QUIET)
    if(git_result EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
        set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
    endif()
endif()
# string(TIMESTAMP) takes SOURCE_DATE_EPOCH when it is set.
string(TIMESTAMP ORVANE_YEAR "%Y" UTC)
