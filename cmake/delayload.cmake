# Delay-load import libraries for the Windows build. A DLL linked through one is loaded on the
# first call into it, after the program has limited the DLL search to the system folder,
# instead of at process start, when the loader also looks beside the program (for the DLL and
# for the DLLs it imports in turn). Each library names every function of the toolchain's own
# import library, so any of them can be called.
function(vx_delayload_libraries out)
  set(libs)
  set(dir ${CMAKE_BINARY_DIR}/delayload)
  file(MAKE_DIRECTORY ${dir})
  foreach(name IN LISTS ARGN)
    find_library(VX_IMPLIB_${name} NAMES lib${name}.a REQUIRED)
    set(implib ${VX_IMPLIB_${name}})
    set(lib ${dir}/lib${name}_delay.a)
    if(NOT EXISTS ${lib} OR ${implib} IS_NEWER_THAN ${lib})
      execute_process(COMMAND ${CMAKE_NM} ${implib} OUTPUT_VARIABLE symbols
                      COMMAND_ERROR_IS_FATAL ANY)
      string(REGEX MATCHALL "__imp_[A-Za-z0-9_@]+" imports "${symbols}")
      list(REMOVE_DUPLICATES imports)
      list(TRANSFORM imports REPLACE "^__imp_" "")
      list(JOIN imports "\n" exports)
      file(WRITE ${dir}/${name}.def "LIBRARY ${name}.dll\nEXPORTS\n${exports}\n")
      execute_process(COMMAND ${CMAKE_DLLTOOL} --input-def ${dir}/${name}.def
                              --dllname ${name}.dll --output-delaylib ${lib}
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
    list(APPEND libs ${lib})
  endforeach()
  set(${out} ${libs} PARENT_SCOPE)
endfunction()
