# Compile options for Tovalo's own code. Third-party headers come in as SYSTEM includes,
# so warnings-as-errors applies to project code only.
add_library(tovalo_options INTERFACE)
target_compile_options(tovalo_options INTERFACE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
    -Wconversion -Wsign-conversion -Wnull-dereference -Wdouble-promotion -Wformat=2
    -Wimplicit-fallthrough)
# Release builds emit no debug lines.
target_compile_definitions(tovalo_options INTERFACE
    $<$<NOT:$<CONFIG:Debug>>:TOVALO_NO_DEBUG_LOG>)

if(TOVALO_SANITIZE)
    set(_san "-fsanitize=${TOVALO_SANITIZE}")
    if(TOVALO_SANITIZE MATCHES "undefined")
        string(APPEND _san ";-fno-sanitize-recover=undefined")
    endif()
    target_compile_options(tovalo_options INTERFACE ${_san} -fno-omit-frame-pointer)
    target_link_options(tovalo_options INTERFACE ${_san})
endif()

# Builds whole files of project sources into one static library per layer.
function(tovalo_add_layer name)
    set(_sources "")
    foreach(_dir IN LISTS ARGN)
        file(GLOB _found CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/src/${_dir}/*.cpp")
        list(APPEND _sources ${_found})
    endforeach()
    if(NOT _sources)
        # A layer whose folders hold only headers so far still needs a translation unit.
        set(_empty "${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp")
        file(WRITE "${_empty}" "")
        set(_sources "${_empty}")
    endif()
    add_library(${name} STATIC ${_sources})
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(${name} PUBLIC tovalo_options)
endfunction()
