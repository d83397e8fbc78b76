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
