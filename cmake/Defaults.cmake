# Per-target defaults: warnings as the house rule, optional sanitizers.
set(WAYFARER_WARNINGS -Wall -Wextra -Wpedantic -Wno-unused-parameter)
if(WAYFARER_WERROR)
    list(APPEND WAYFARER_WARNINGS -Werror)
endif()

set(WAYFARER_SAN_FLAGS "")
if(WAYFARER_SANITIZE)
    set(WAYFARER_SAN_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
elseif(WAYFARER_TSAN)
    set(WAYFARER_SAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
endif()
if(WAYFARER_SAN_FLAGS)
    add_compile_options(${WAYFARER_SAN_FLAGS})
    add_link_options(${WAYFARER_SAN_FLAGS})
endif()

# A library exports its own folder and nothing else: the folder's name in an include directory of
# the target's own, so "folder/Header.h" resolves for the target and whatever links it, while an
# include of a folder the target does not link (one above it) fails to compile.
function(wayfarer_export_folder target folder)
    set(root ${CMAKE_BINARY_DIR}/include/${target})
    file(MAKE_DIRECTORY ${root})
    if(NOT EXISTS ${root}/${folder})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${root})
    else()
        target_include_directories(${target} PUBLIC ${root})
    endif()
endfunction()

function(wayfarer_defaults target)
    target_compile_options(${target} PRIVATE ${WAYFARER_WARNINGS})
endfunction()

# Fuzz builds (clang): everything is instrumented for coverage and sanitized, so the libraries
# under test report what the fuzzers reach; only the fuzz targets link the libFuzzer driver.
if(WAYFARER_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
