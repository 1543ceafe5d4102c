# lumacor_add_rom(<target> <source.asm> <output.rom>
#                 [LISTING file] [SYMBOLS file] [DEBUG_INFO file]
#                 [INCLUDE_DIRS dir...] [DEPENDS file...]
#                 [ART picture.png [lumacor-gfx options...] ...]
#                 [MAP level.tmx [lumacor-map options...] ...]
#                 [SOUND sounds.snd [lumacor-sound options...] ...])
#
# Assembles a source with the project's own lumacor-asm at build time. The
# assembler writes a depfile naming every .include and .incbin file, so an
# edit to any of them rebuilds the ROM. <target> is added to the default build.
#
# ART lists the ROM's pictures, each followed by the lumacor-gfx options that
# convert it (--tiles, --map, --palette, --vram, --name, --first-tile,
# --palette-from, --sheet, --screen-art, --quantize). Each is converted at
# build time into the build folder, at its path beside the source with the
# extension .inc (or .vram with --vram), which the source includes as
# "art/title.inc" (or .incbin "art/title.vram"); editing a picture, or the
# picture named by --palette-from, rebuilds the ROM.
#
# MAP lists the ROM's Tiled maps (.tmx or .tmj), each followed by the
# lumacor-map options that convert it (--name, --first-tile, --pack,
# --palette-from), converted the same way into "<map's path>.inc"; editing
# the map, one of its tilesets or their images rebuilds the ROM.
#
# SOUND lists the ROM's sound files, each followed by its lumacor-sound
# options (--name). Each is converted at build time to its path beside the
# source with the extension .inc, in the build folder, which the source
# includes as "sounds.inc" after the driver, "sound.inc"; editing the file
# rebuilds the ROM.
function(lumacor_add_rom target source output)
  cmake_parse_arguments(PARSE_ARGV 3 ROM "" "LISTING;SYMBOLS;DEBUG_INFO" "INCLUDE_DIRS;DEPENDS;ART;MAP;SOUND")

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

  set(art_outputs)
  if(ROM_ART)
    list(APPEND extra_args -I ${CMAKE_CURRENT_BINARY_DIR})
    # Split the list into pictures, each with its options; an option's value
    # follows it and is never a picture of its own.
    set(pictures)
    set(takes_value --name --first-tile --palette-from)
    set(index 0)
    set(expect_value OFF)
    foreach(item IN LISTS ROM_ART)
      if(expect_value)
        list(APPEND art_${index}_args ${item})
        set(expect_value OFF)
      elseif(item MATCHES "^-")
        list(APPEND art_${index}_args ${item})
        if(item IN_LIST takes_value)
          set(expect_value ON)
        endif()
      else()
        math(EXPR index "${index} + 1")
        set(art_${index}_picture ${item})
        set(art_${index}_args)
      endif()
    endforeach()
    if(index GREATER 0)
      foreach(i RANGE 1 ${index})
        _lumacor_add_art(${art_${i}_picture} art_output "${art_${i}_args}")
        list(APPEND art_outputs ${art_output})
      endforeach()
    endif()
  endif()

  if(ROM_MAP)
    _lumacor_add_maps("${ROM_MAP}" map_outputs)
    list(APPEND art_outputs ${map_outputs})
    list(APPEND extra_args -I ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  set(sound_outputs)
  if(ROM_SOUND)
    list(APPEND extra_args -I ${CMAKE_CURRENT_BINARY_DIR})
    _lumacor_add_sounds("${ROM_SOUND}" sound_outputs)
  endif()

  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${output_dir}
    COMMAND lumacor-asm ${source_path} -o ${output_path} -d ${depfile} ${extra_args}
    DEPENDS lumacor-asm ${source_path} ${ROM_DEPENDS} ${art_outputs} ${sound_outputs}
    DEPFILE ${depfile}
    COMMENT "Assembling ${source}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()

# One picture of a ROM's ART: the command that converts it, and its output in
# <output_var>.
function(_lumacor_add_art picture output_var options)
  get_filename_component(picture_path ${picture} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  file(RELATIVE_PATH relative ${CMAKE_CURRENT_SOURCE_DIR} ${picture_path})
  get_filename_component(relative_dir ${relative} DIRECTORY)
  get_filename_component(stem ${relative} NAME_WE)
  set(extension inc)
  if("--vram" IN_LIST options)
    set(extension vram)
  endif()
  set(output_path ${CMAKE_CURRENT_BINARY_DIR}/${relative_dir}/${stem}.${extension})
  set(args)
  set(depends ${picture_path})
  set(next_is_path OFF)
  foreach(option IN LISTS options)
    if(next_is_path)
      get_filename_component(option ${option} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
      list(APPEND depends ${option})
      set(next_is_path OFF)
    elseif(option STREQUAL "--palette-from")
      set(next_is_path ON)
    endif()
    list(APPEND args ${option})
  endforeach()
  add_custom_command(
    OUTPUT ${output_path}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/${relative_dir}
    COMMAND lumacor-gfx ${picture_path} ${args} -o ${output_path}
    DEPENDS lumacor-gfx ${depends}
    COMMENT "Converting ${relative}"
    VERBATIM)
  set(${output_var} ${output_path} PARENT_SCOPE)
endfunction()

# A ROM's MAP list: each map converted by lumacor-map into the build folder,
# with a depfile naming its tilesets and images; the outputs in <output_var>.
function(_lumacor_add_maps items output_var)
  set(outputs)
  set(map)
  set(args)
  set(expect_value OFF)
  foreach(item IN LISTS items ITEMS --end--)
    if(expect_value)
      if(previous STREQUAL "--palette-from")
        get_filename_component(item ${item} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
      endif()
      list(APPEND args ${item})
      set(expect_value OFF)
    elseif(item MATCHES "^-" AND NOT item STREQUAL "--end--")
      list(APPEND args ${item})
      if(item MATCHES "^(--name|--first-tile|--palette-from)$")
        set(expect_value ON)
        set(previous ${item})
      endif()
    else()
      if(map)
        get_filename_component(map_path ${map} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
        file(RELATIVE_PATH relative ${CMAKE_CURRENT_SOURCE_DIR} ${map_path})
        get_filename_component(relative_dir ${relative} DIRECTORY)
        get_filename_component(stem ${relative} NAME_WE)
        set(output_path ${CMAKE_CURRENT_BINARY_DIR}/${relative_dir}/${stem}.inc)
        add_custom_command(
          OUTPUT ${output_path}
          COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/${relative_dir}
          COMMAND lumacor-map ${map_path} ${args} -o ${output_path} -d ${output_path}.d
          DEPENDS lumacor-map ${map_path}
          DEPFILE ${output_path}.d
          COMMENT "Converting ${relative}"
          VERBATIM)
        list(APPEND outputs ${output_path})
      endif()
      set(map ${item})
      set(args)
    endif()
  endforeach()
  set(${output_var} ${outputs} PARENT_SCOPE)
endfunction()

# The sound files of a ROM's SOUND list, each followed by its options (the
# value of --name follows it): their conversions, outputs in <outputs_var>.
function(_lumacor_add_sounds items outputs_var)
  set(outputs)
  set(file)
  set(options)
  set(expect_value OFF)
  foreach(item IN LISTS items)
    if(expect_value)
      list(APPEND options ${item})
      set(expect_value OFF)
    elseif(item MATCHES "^-")
      list(APPEND options ${item})
      if(item STREQUAL "--name")
        set(expect_value ON)
      endif()
    else()
      if(file)
        _lumacor_add_sound(${file} "${options}" output)
        list(APPEND outputs ${output})
      endif()
      set(file ${item})
      set(options)
    endif()
  endforeach()
  if(file)
    _lumacor_add_sound(${file} "${options}" output)
    list(APPEND outputs ${output})
  endif()
  set(${outputs_var} ${outputs} PARENT_SCOPE)
endfunction()

function(_lumacor_add_sound file options output_var)
  get_filename_component(path ${file} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  file(RELATIVE_PATH relative ${CMAKE_CURRENT_SOURCE_DIR} ${path})
  get_filename_component(relative_dir ${relative} DIRECTORY)
  get_filename_component(stem ${relative} NAME_WE)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${relative_dir}/${stem}.inc)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/${relative_dir}
    COMMAND lumacor-sound ${path} ${options} -o ${output}
    DEPENDS lumacor-sound ${path}
    COMMENT "Converting ${relative}"
    VERBATIM)
  set(${output_var} ${output} PARENT_SCOPE)
endfunction()
