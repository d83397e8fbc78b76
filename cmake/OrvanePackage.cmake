# Installs a CMake package so that, outside this tree,
#   find_package(OrvaneAudioEffects CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE Orvane::AudioEffects)
# works (the host layer, Orvane::SDK, comes along).
include(CMakePackageConfigHelpers)

set(ORVANE_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OrvaneAudioEffects)

install(EXPORT OrvaneAudioEffectsTargets
  NAMESPACE Orvane::
  DESTINATION ${ORVANE_CMAKE_INSTALL_DIR})

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/OrvaneAudioEffectsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/OrvaneAudioEffectsConfig.cmake
  INSTALL_DESTINATION ${ORVANE_CMAKE_INSTALL_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/OrvaneAudioEffectsConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/OrvaneAudioEffectsConfig.cmake
  ${PROJECT_BINARY_DIR}/OrvaneAudioEffectsConfigVersion.cmake
  DESTINATION ${ORVANE_CMAKE_INSTALL_DIR})

# The same library for Makefile and Meson users: orvane-audioeffects.pc, relocatable.
set(ORVANE_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH ORVANE_PC_TO_PREFIX /prefix/${ORVANE_PC_DIR} /prefix)
string(REGEX REPLACE "/$" "" ORVANE_PC_TO_PREFIX "${ORVANE_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/orvane-audioeffects.pc.in
  ${PROJECT_BINARY_DIR}/orvane-audioeffects.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orvane-audioeffects.pc DESTINATION ${ORVANE_PC_DIR})
