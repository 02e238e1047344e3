# find_package(Brannic) for host programs: the imported target Brannic::Brannic, with
# Brannic.h's folder and the import library of the host's own architecture (lib/ for 32-bit
# x86, lib/x64/ for 64-bit) in its toolchain's format (Brannic.lib for Microsoft's linker
# and compilers that follow its ABI, libBrannic.dll.a for MinGW). Its location is the
# matching Brannic.dll, for copying beside the host program.
get_filename_component(_brannic_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_brannic_arch "")
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_brannic_arch "x64/")
else()
  set(Brannic_FOUND FALSE)
  set(Brannic_NOT_FOUND_MESSAGE
      "Brannic: enable C or CXX before find_package(Brannic), so the pointer size is known")
  return()
endif()

if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
  set(_brannic_implib "${_brannic_root}/lib/${_brannic_arch}Brannic.lib")
else()
  set(_brannic_implib "${_brannic_root}/lib/${_brannic_arch}libBrannic.dll.a")
endif()

foreach(_brannic_file "${_brannic_implib}" "${_brannic_root}/bin/${_brannic_arch}Brannic.dll"
        "${_brannic_root}/include/Brannic.h")
  if(NOT EXISTS "${_brannic_file}")
    set(Brannic_FOUND FALSE)
    set(Brannic_NOT_FOUND_MESSAGE "Brannic: ${_brannic_file} is missing")
    return()
  endif()
endforeach()

if(NOT TARGET Brannic::Brannic)
  add_library(Brannic::Brannic SHARED IMPORTED)
  set_target_properties(Brannic::Brannic PROPERTIES
    IMPORTED_IMPLIB "${_brannic_implib}"
    IMPORTED_LOCATION "${_brannic_root}/bin/${_brannic_arch}Brannic.dll"
    INTERFACE_INCLUDE_DIRECTORIES "${_brannic_root}/include")
endif()

unset(_brannic_root)
unset(_brannic_arch)
unset(_brannic_implib)
unset(_brannic_file)
