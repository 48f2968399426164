# The Windows build (the `windows` preset): every program and test lands in <build>/bin, and the
# libraries and Qt plugins they load are copied beside them, so that folder runs as it is, under
# Wine here or on a Windows PC. Included by the top-level CMakeLists.txt before any target.

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(lianbu_runtime_dir ${CMAKE_BINARY_DIR}/bin)

# Tests and programs run at build time go through scripts/windows/wine-run, which keeps each
# test's output in a file when scripts/windows/test asks for it.
if(LIANBU_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/windows/wine-run)
endif()

# The build machine's resource compiler compresses with zstd, which the Windows Qt is built
# without (it could not read such resources).
set(CMAKE_AUTORCC_OPTIONS --no-zstd)

# The cross-built dependencies (scripts/windows/deps --prefixes).
if(NOT LIANBU_WINDOWS_PREFIXES)
  message(FATAL_ERROR "LIANBU_WINDOWS_PREFIXES is empty: run scripts/windows/build, or set it to the "
                      "output of scripts/windows/deps --prefixes")
endif()

# The compiler's own run-time libraries (POSIX threads model).
set(lianbu_runtime_files)
foreach(name libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
    find_file(found_${name} ${name} PATHS /usr/${LIANBU_MINGW_TRIPLET}/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    set(found ${found_${name}})
  endif()
  if(NOT found OR NOT EXISTS "${found}")
    message(FATAL_ERROR "The MinGW-w64 run-time library ${name} was not found")
  endif()
  list(APPEND lianbu_runtime_files ${found})
endforeach()

# Every library of the dependencies (their bin/ folders hold the DLLs).
set(lianbu_qt_prefix)
foreach(prefix ${LIANBU_WINDOWS_PREFIXES})
  file(GLOB dlls ${prefix}/bin/*.dll)
  list(APPEND lianbu_runtime_files ${dlls})
  if(EXISTS ${prefix}/plugins/platforms)
    set(lianbu_qt_prefix ${prefix})
  endif()
endforeach()
# Debug builds of Qt's libraries are not shipped.
list(FILTER lianbu_runtime_files EXCLUDE REGEX "Qt6[A-Za-z]+d\\.dll$")

# The Qt plugins the program loads: the platform (windows; offscreen for the tests), the SQLite
# driver, the JPEG and icon readers, the native styles.
set(lianbu_plugin_files)
if(lianbu_qt_prefix)
  foreach(plugin platforms/qwindows.dll platforms/qoffscreen.dll platforms/qminimal.dll
                 sqldrivers/qsqlite.dll imageformats/qjpeg.dll imageformats/qico.dll
                 styles/qwindowsvistastyle.dll)
    if(EXISTS ${lianbu_qt_prefix}/plugins/${plugin})
      list(APPEND lianbu_plugin_files ${plugin})
    elseif(plugin MATCHES "qwindows|qsqlite|qjpeg")
      message(FATAL_ERROR "The Qt plugin ${plugin} is missing from ${lianbu_qt_prefix}")
    endif()
  endforeach()
endif()

set(lianbu_deploy_commands)
foreach(file ${lianbu_runtime_files})
  list(APPEND lianbu_deploy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${lianbu_runtime_dir}/)
endforeach()
foreach(plugin ${lianbu_plugin_files})
  get_filename_component(folder ${plugin} DIRECTORY)
  list(APPEND lianbu_deploy_commands
       COMMAND ${CMAKE_COMMAND} -E make_directory ${lianbu_runtime_dir}/${folder}
       COMMAND ${CMAKE_COMMAND} -E copy_if_different ${lianbu_qt_prefix}/plugins/${plugin} ${lianbu_runtime_dir}/${folder}/)
endforeach()
# Qt looks for its plugins and translations beside the program, not in the build machine's cache.
file(WRITE ${CMAKE_BINARY_DIR}/qt.conf.in "[Paths]\nPrefix = .\nPlugins = .\nTranslations = translations\n")
list(APPEND lianbu_deploy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_BINARY_DIR}/qt.conf.in
     ${lianbu_runtime_dir}/qt.conf)

# The manual, where the program looks for it beside itself.
list(APPEND lianbu_deploy_commands COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/docs/manual
     ${lianbu_runtime_dir}/manual)

add_custom_target(lianbu-windows-runtime ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${lianbu_runtime_dir}
  ${lianbu_deploy_commands}
  COMMENT "Copying the libraries and Qt plugins beside the Windows programs"
  VERBATIM)
