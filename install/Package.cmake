# What ships: the version resource of every shipped binary and the Windows Installer
# package, both from the VERSION file.
#   kestrane-msi       build/windows/kestrane-<version>-x64.msi   (./dev.sh package copies it to build/)
#   the upgrade test   build/windows/upgrade/kestrane-<version with patch + 1>-x64.msi: the same
#                      binaries as a newer package, to install over the first
#   the rebuild test   build/windows/rebuild/kestrane-<version>-x64.msi: a second build of the
#                      same version (another ProductCode)
set(KESTRANE_PUBLISHER "QV")
set(KESTRANE_SHIPPED KestraneService Logging kestrane-host kestrane-cli KestraneClient)

function(kestrane_version_resource target description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(KESTRANE_FILE_TYPE VFT_DLL)
    set(KESTRANE_FILE_NAME ${target}.dll)
  else()
    set(KESTRANE_FILE_TYPE VFT_APP)
    set(KESTRANE_FILE_NAME ${target}.exe)
  endif()
  set(KESTRANE_FILE_DESCRIPTION "${description}")
  configure_file(${CMAKE_SOURCE_DIR}/install/VersionInfo.rc.in ${CMAKE_BINARY_DIR}/version/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/version/${target}.rc)
endfunction()

kestrane_version_resource(KestraneService "Kestrane registry service module")
kestrane_version_resource(Logging "Kestrane logging")
kestrane_version_resource(kestrane-host "Kestrane service host")
kestrane_version_resource(kestrane-cli "Kestrane command-line client")
kestrane_version_resource(KestraneClient "Kestrane client library")

find_program(KESTRANE_WIXL wixl)
find_program(KESTRANE_MSIBUILD msibuild)
if(NOT KESTRANE_WIXL OR NOT KESTRANE_MSIBUILD)
  message(FATAL_ERROR "wixl and msibuild (Debian packages wixl, msitools) build the installer package: "
                      "./dev.sh setup installs them")
endif()

# What wixl leaves out, written into its tables afterwards:
# - the version of each PE file (the File table's Version column), without which Windows
#   Installer takes the files for unversioned ones and decides on replacing them by dates;
# - the same version in the range a package replaces (VersionMaxInclusive, 0x200, beside
#   MigrateFeatures, 1), so that a rebuild of one version upgrades in place instead of being
#   installed beside the first. A lower version is still refused as a downgrade.
set(KESTRANE_FILE_VERSION ${PROJECT_VERSION}.0)
set(KESTRANE_UPGRADE_CODE "{918AE418-378C-46BD-BDE0-62E30193A8D9}")
set(KESTRANE_VERSIONED_FILES ServiceDll LoggingDll ClientDll CliExe HostExe)

# wixl takes File sources only relative to its working folder, so it runs in bin/.
file(RELATIVE_PATH KESTRANE_CLIENT_DIR ${CMAKE_BINARY_DIR}/bin ${CMAKE_SOURCE_DIR}/client)
file(RELATIVE_PATH KESTRANE_LIB_DIR ${CMAKE_BINARY_DIR}/bin ${CMAKE_BINARY_DIR})
function(kestrane_msi output version)
  set(versions)
  foreach(file ${KESTRANE_VERSIONED_FILES})
    list(APPEND versions -q "UPDATE `File` SET `Version` = '${KESTRANE_FILE_VERSION}' WHERE `File` = '${file}'")
  endforeach()
  add_custom_command(OUTPUT ${output}
    COMMAND ${KESTRANE_WIXL} -a x64 -D Version=${version} -D Publisher=${KESTRANE_PUBLISHER}
            -D UpgradeCode=${KESTRANE_UPGRADE_CODE} -D BinDir=.
            -D LibDir=${KESTRANE_LIB_DIR} -D ClientDir=${KESTRANE_CLIENT_DIR}
            -o ${output} ${CMAKE_SOURCE_DIR}/install/Kestrane.wxs
    COMMAND ${KESTRANE_MSIBUILD} ${output} ${versions}
            -q "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'"
            -q "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('${KESTRANE_UPGRADE_CODE}', '${version}', 513, 'WIX_UPGRADE_DETECTED')"
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    DEPENDS ${CMAKE_SOURCE_DIR}/install/Kestrane.wxs ${KESTRANE_SHIPPED} ${CMAKE_SOURCE_DIR}/client/kestrane_client.h
            ${CMAKE_SOURCE_DIR}/client/kestrane_client.hpp
    COMMENT "Packaging ${output}"
    VERBATIM)
endfunction()

math(EXPR KESTRANE_NEXT_PATCH "${PROJECT_VERSION_PATCH} + 1")
set(KESTRANE_NEXT_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${KESTRANE_NEXT_PATCH})
set(KESTRANE_MSI ${CMAKE_BINARY_DIR}/kestrane-${PROJECT_VERSION}-x64.msi)
set(KESTRANE_UPGRADE_MSI ${CMAKE_BINARY_DIR}/upgrade/kestrane-${KESTRANE_NEXT_VERSION}-x64.msi)
set(KESTRANE_REBUILD_MSI ${CMAKE_BINARY_DIR}/rebuild/kestrane-${PROJECT_VERSION}-x64.msi)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/upgrade ${CMAKE_BINARY_DIR}/rebuild)
kestrane_msi(${KESTRANE_MSI} ${PROJECT_VERSION})
kestrane_msi(${KESTRANE_UPGRADE_MSI} ${KESTRANE_NEXT_VERSION})
kestrane_msi(${KESTRANE_REBUILD_MSI} ${PROJECT_VERSION})
add_custom_target(kestrane-msi ALL DEPENDS ${KESTRANE_MSI} ${KESTRANE_UPGRADE_MSI} ${KESTRANE_REBUILD_MSI})
