# `cmake --install`: the runner libraries, the record, height, aabb and noise libraries with
# their public headers, SarnivelleChecks.cmake, and the package configuration for
#
#   find_package(Sarnivelle CONFIG REQUIRED)
#
# (or with a version, `find_package(Sarnivelle 0.1 CONFIG REQUIRED)`: any release of the same
# major version that is at least as new is accepted), which defines the targets
# Sarnivelle::check, Sarnivelle::runner, Sarnivelle::dat, Sarnivelle::height, Sarnivelle::aabb
# and Sarnivelle::noise, and the functions sarnivelle_add_check_executable and
# sarnivelle_discover_checks. A program that links Sarnivelle::height alone links no runner code.
# The example project lands in share/sarnivelle/examples/consumer.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(_sarnivelle_installed
    sarnivelle_check sarnivelle_runner sarnivelle_dat sarnivelle_height sarnivelle_aabb
    sarnivelle_noise)
foreach(target IN LISTS _sarnivelle_installed)
    string(REGEX REPLACE "^sarnivelle_" "" export_name ${target})
    set_target_properties(${target} PROPERTIES EXPORT_NAME ${export_name})
    # The headers use C++20 (source locations, concepts), so every consumer builds with it.
    target_compile_features(${target} INTERFACE cxx_std_20)
endforeach()

install(TARGETS ${_sarnivelle_installed}
    EXPORT SarnivelleTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY
    ${PROJECT_SOURCE_DIR}/runner/include/
    ${PROJECT_SOURCE_DIR}/components/sarnivelle-dat/include/
    ${PROJECT_SOURCE_DIR}/components/sarnivelle-scenery-bake/include/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    FILES_MATCHING PATTERN "*.hpp")

set(_sarnivelle_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Sarnivelle)
install(EXPORT SarnivelleTargets NAMESPACE Sarnivelle:: DESTINATION ${_sarnivelle_package_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/SarnivelleConfig.cmake.in
    ${PROJECT_BINARY_DIR}/SarnivelleConfig.cmake
    INSTALL_DESTINATION ${_sarnivelle_package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/SarnivelleConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/SarnivelleConfig.cmake
    ${PROJECT_BINARY_DIR}/SarnivelleConfigVersion.cmake
    ${CMAKE_CURRENT_LIST_DIR}/SarnivelleChecks.cmake
    ${CMAKE_CURRENT_LIST_DIR}/SarnivelleCheckExecutable.cmake
    DESTINATION ${_sarnivelle_package_dir})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/consumer
    DESTINATION ${CMAKE_INSTALL_DATADIR}/sarnivelle/examples)
