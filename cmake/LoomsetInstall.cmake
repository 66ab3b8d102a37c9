include(CMakePackageConfigHelpers)

# The target's install interface names the include folder (and no other).
install(TARGETS loomset EXPORT LoomsetTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY include/loomset DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The generated schema headers go to include/loomset/proto only; they include each other as
# "loomset/proto/<name>.pb.h", so the include folder above is all a consumer needs.
install(DIRECTORY ${LOOMSET_GENERATED_DIR}/loomset/proto
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/loomset FILES_MATCHING PATTERN "*.h")

set(LOOMSET_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Loomset)
install(EXPORT LoomsetTargets NAMESPACE loomset:: DESTINATION ${LOOMSET_CMAKE_DIR})
if(BUILD_SHARED_LIBS)
  set(LOOMSET_STATIC_BUILD OFF)
else()
  set(LOOMSET_STATIC_BUILD ON)
endif()
configure_package_config_file(cmake/LoomsetConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/LoomsetConfig.cmake INSTALL_DESTINATION ${LOOMSET_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/LoomsetConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/LoomsetConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/LoomsetConfigVersion.cmake
  DESTINATION ${LOOMSET_CMAKE_DIR})

configure_file(cmake/loomset.pc.in ${CMAKE_CURRENT_BINARY_DIR}/loomset.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/loomset.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
