# DLLs that are not among the system's known DLLs are looked for first in the folder the
# program starts from, so a DLL of the same name left in Downloads or %TEMP% would be loaded
# in place of the system's. The program therefore imports them late (delay-loaded), and
# loads them from System32 only (base/system_dlls.h). Each target `delay_<name>` is a
# delay-import library for <name>.dll that declares every function of the toolchain's own
# import library, so calling a new function needs no change here.

find_program(ORVANE_DLLTOOL NAMES ${MINGW_TRIPLE}-dlltool REQUIRED)
find_program(ORVANE_NM NAMES ${MINGW_TRIPLE}-nm REQUIRED)

function(orvane_delay_import name)
    find_library(import_${name} NAMES lib${name}.a REQUIRED)
    set(def ${PROJECT_BINARY_DIR}/delay/${name}.def)
    set(lib ${PROJECT_BINARY_DIR}/delay/libdelay_${name}.a)
    add_custom_command(
        OUTPUT ${lib}
        COMMAND ${CMAKE_COMMAND} -DNM=${ORVANE_NM} -DIMPORT=${import_${name}} -DNAME=${name}
                -DDEF=${def} -P ${PROJECT_SOURCE_DIR}/cmake/write_def.cmake
        COMMAND ${ORVANE_DLLTOOL} --input-def ${def} --dllname ${name}.dll --output-delaylib ${lib}
        DEPENDS ${import_${name}} ${PROJECT_SOURCE_DIR}/cmake/write_def.cmake
        COMMENT "Delay-import library for ${name}.dll"
        VERBATIM)
    add_custom_target(delay_${name}_lib DEPENDS ${lib})
    add_library(delay_${name} STATIC IMPORTED GLOBAL)
    # The plain library after it, for what it holds besides imports (GDI+'s format GUIDs and
    # cached objects); every function is already taken from the delay-import library.
    set_target_properties(delay_${name} PROPERTIES IMPORTED_LOCATION ${lib}
                                                   INTERFACE_LINK_LIBRARIES ${name})
    add_dependencies(delay_${name} delay_${name}_lib)
endfunction()

orvane_delay_import(winhttp)
orvane_delay_import(bcrypt)
orvane_delay_import(gdiplus)
orvane_delay_import(oleacc)
