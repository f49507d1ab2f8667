# Each exit library exports exactly velt_exit and WEP. Both live in the core
# archive, so the linker is told to take them in; everything else is hidden.
function(velt_export_entry_points target)
  if(WIN32)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/exits.def)
    target_link_options(${target} PRIVATE -Wl,--undefined=_velt_exit -Wl,--undefined=_WEP
                        -static-libgcc -static-libstdc++ -Wl,-Bstatic,--whole-archive -lwinpthread
                        -Wl,--no-whole-archive)
  else()
    target_link_options(${target} PRIVATE -Wl,--undefined=velt_exit -Wl,--undefined=WEP
                        -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/exits.map -Wl,--no-undefined)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/exits.map)
  endif()
endfunction()
