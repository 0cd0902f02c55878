# Test programs are Windows executables: CTest starts them through Wine in a private
# prefix inside the build tree (headless: null graphics driver, no mono, no gecko).
set(LUMIVANE_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix used by the tests")
find_program(LUMIVANE_WINE_LOADER NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(LUMIVANE_WINE_LOADER NAMES wine64 wine)
if(NOT LUMIVANE_WINE_LOADER)
    set(LUMIVANE_WINE_LOADER wine)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE @ONLY)

# Adds a test program run under Wine. Every test needs the prepared prefix; tests that
# touch the fixed data folder or shared registry keys pass LOCKS so they never overlap.
#   lumivane_add_wine_test(NAME n COMMAND exe [args...] [FIXTURES f...] [LOCKS l...] [TIMEOUT s])
function(lumivane_add_wine_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;FIXTURES;LOCKS" ${ARGN})
    add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
    set(fixtures wineprefix ${T_FIXTURES})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED "${fixtures}" TIMEOUT ${T_TIMEOUT})
    if(T_LOCKS)
        set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
    endif()
endfunction()
