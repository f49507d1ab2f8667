# Each exit library exports exactly velt_exit and WEP. Both live in the core
# archive, so the linker is told to take them in; everything else is hidden.
function(velt_export_entry_points target)
  if(WIN32)
    # A module-definition file lists the exports, which also turns off the
    # export of every other global symbol. The names stay undecorated (cdecl
    # on 32-bit Windows; the leading underscore of the object files is the
    # linker's business, not the export's). The C and C++ runtimes are linked
    # in, so the DLL needs nothing beyond the system's own DLLs.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(prefix "_")
    else()
      set(prefix "")
    endif()
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/exits.def)
    target_link_options(${target} PRIVATE -Wl,--undefined=${prefix}velt_exit -Wl,--undefined=${prefix}WEP
                        -Wl,--no-undefined -static-libgcc -static-libstdc++ -static)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/exits.def)
  else()
    target_link_options(${target} PRIVATE -Wl,--undefined=velt_exit -Wl,--undefined=WEP
                        -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/exits.map -Wl,--no-undefined)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/exits.map)
  endif()
endfunction()
