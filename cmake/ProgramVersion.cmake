# relo_program_version(TARGET ID VERSION): a program's version, written once, in
# its own CMakeLists.txt. The header <id>_version.h (ID in lower case) gives
# TARGET, and whatever links it, relo::<ID>Version::Major, Minor and Revision,
# and Text ("1.0.0").
# The headers of all programs share one folder of the build tree, so that a test
# can compare what a program prints with its version. The version is also the
# global property RELO_VERSION_<ID>.
function(relo_program_version target id version)
    if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
        message(FATAL_ERROR "${target}: version \"${version}\" is not major.minor.revision")
    endif()
    set(RELO_VERSION_ID ${id})
    set(RELO_VERSION_MAJOR ${CMAKE_MATCH_1})
    set(RELO_VERSION_MINOR ${CMAKE_MATCH_2})
    set(RELO_VERSION_REVISION ${CMAKE_MATCH_3})
    set(RELO_VERSION_TEXT ${version})
    file(RELATIVE_PATH RELO_VERSION_SOURCE ${PROJECT_SOURCE_DIR}
         ${CMAKE_CURRENT_SOURCE_DIR}/CMakeLists.txt)
    string(TOLOWER ${id} file)
    set(folder ${PROJECT_BINARY_DIR}/version)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/programversion.h.in ${folder}/${file}_version.h
                   @ONLY)
    target_include_directories(${target} PUBLIC ${folder})
    # For the build itself (the package takes RELOKomut's): RELO_VERSION_<ID>.
    set_property(GLOBAL PROPERTY RELO_VERSION_${id} ${version})
endfunction()
