# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a file includes a folder that its own folder may not depend on.
# Usage: cmake -DSOURCE_DIR=<tree> -P CheckLayering.cmake
#
# The core's folders in dependency order: each may include the ones before it.
# Every other folder lists what it may include besides itself. The table has
# no cycle, so neither can the code.
cmake_minimum_required(VERSION 3.25)

set(core base ports services display settings engine menu)
set(may_include_platform/linux ${core})
set(may_include_platform/x11 ${core} platform/linux)
set(may_include_platform/wayland ${core} platform/linux)
set(may_include_platform/sim ${core})
# The Qt binding wires the session bindings together; it knows both sessions.
set(may_include_platform/qt ${core} platform/linux platform/x11 platform/wayland)
set(may_include_ui ${core} platform/qt)
set(may_include_app ${core} platform/qt ui)

# The desktop's whole set of ports is for the bindings that offer it and the
# composition root that hands it out; the core is given single ports.
set(whole_port_set ports/SystemPorts.hpp)

set(earlier)
foreach(folder IN LISTS core)
  set(may_include_${folder} ${earlier})
  list(APPEND earlier ${folder})
endforeach()
set(folders ${core} platform/linux platform/x11 platform/wayland platform/sim platform/qt ui app)

# The folder a path inside the tree belongs to; empty for anything else.
function(folder_of path out)
  string(REGEX MATCH "^platform/[^/]+" folder "${path}")
  if(NOT folder)
    string(REGEX MATCH "^[^/]+" folder "${path}")
  endif()
  if(NOT folder IN_LIST folders OR NOT path MATCHES "/")
    set(folder "")
  endif()
  set(${out} "${folder}" PARENT_SCOPE)
endfunction()

set(violations 0)
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.hpp ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(file IN LISTS files)
    file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" included "${line}")
      folder_of("${included}" target)
      if(target AND NOT target STREQUAL folder AND NOT target IN_LIST may_include_${folder})
        message(NOTICE "${file} includes ${included}: ${folder}/ may not depend on ${target}/")
        math(EXPR violations "${violations} + 1")
      elseif(included STREQUAL whole_port_set AND folder IN_LIST core AND NOT folder STREQUAL "ports")
        message(NOTICE "${file} includes ${included}: the core is given its ports, it never looks at the whole set")
        math(EXPR violations "${violations} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()
if(violations GREATER 0)
  message(FATAL_ERROR "${violations} include(s) against the layering")
endif()
