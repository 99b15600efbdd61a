# cmake -DNM=nm -DIMPORT=libX.a -DNAME=X -DDEF=X.def -P write_def.cmake
# Writes a module-definition file naming every function that the import library IMPORT
# imports (GUIDs aside), sorted, so that the same toolchain always gives the same file.
execute_process(COMMAND ${NM} ${IMPORT} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${NM} ${IMPORT} failed")
endif()
string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@?$]+" imports "${symbols}")
set(names "")
foreach(entry IN LISTS imports)
    string(REGEX REPLACE "^ I __imp_" "" entry "${entry}")
    list(APPEND names "${entry}")
endforeach()
list(REMOVE_DUPLICATES names)
# Some import libraries list interface GUIDs (oleacc's IID_IAccessible) as if they were
# functions: a delay-load thunk under such a name would stand in for the GUID's bytes. GUIDs
# come from libuuid; code asks for them with __uuidof, which needs no library at all.
list(FILTER names EXCLUDE REGEX "^(IID|CLSID|LIBID)_")
list(SORT names)
if(NOT names)
    message(FATAL_ERROR "no functions found in ${IMPORT}")
endif()
list(JOIN names "\n" body)
file(WRITE ${DEF} "LIBRARY ${NAME}.dll\nEXPORTS\n${body}\n")
