# lumacor_add_rom(<target> <source.asm> <output.rom>
#                 [LISTING file] [SYMBOLS file] [DEBUG_INFO file]
#                 [INCLUDE_DIRS dir...] [DEPENDS file...])
#
# Assembles a source with the project's own lumacor-asm at build time. The
# assembler writes a depfile naming every .include and .incbin file, so an
# edit to any of them rebuilds the ROM. <target> is added to the default build.
function(lumacor_add_rom target source output)
  cmake_parse_arguments(PARSE_ARGV 3 ROM "" "LISTING;SYMBOLS;DEBUG_INFO" "INCLUDE_DIRS;DEPENDS")

  get_filename_component(source_path ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  get_filename_component(output_path ${output} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
  get_filename_component(output_dir ${output_path} DIRECTORY)
  set(depfile ${output_path}.d)

  set(extra_args)
  set(outputs ${output_path})
  if(ROM_LISTING)
    get_filename_component(listing_path ${ROM_LISTING} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
    list(APPEND extra_args -l ${listing_path})
    list(APPEND outputs ${listing_path})
  endif()
  if(ROM_SYMBOLS)
    get_filename_component(symbols_path ${ROM_SYMBOLS} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
    list(APPEND extra_args -s ${symbols_path})
    list(APPEND outputs ${symbols_path})
  endif()
  if(ROM_DEBUG_INFO)
    get_filename_component(debug_info_path ${ROM_DEBUG_INFO} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
    list(APPEND extra_args -g ${debug_info_path})
    list(APPEND outputs ${debug_info_path})
  endif()
  foreach(dir IN LISTS ROM_INCLUDE_DIRS)
    get_filename_component(dir_path ${dir} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND extra_args -I ${dir_path})
  endforeach()

  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${output_dir}
    COMMAND lumacor-asm ${source_path} -o ${output_path} -d ${depfile} ${extra_args}
    DEPENDS lumacor-asm ${source_path} ${ROM_DEPENDS}
    DEPFILE ${depfile}
    COMMENT "Assembling ${source}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()
