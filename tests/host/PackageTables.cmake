# The package's tables as Windows Installer reads them (msiinfo, from msitools): each PE file
# carries its version, so it is replaced by version rules; a rebuild of the same version falls
# within the range the package replaces, and nothing lower does.
#   cmake -DMSIINFO=msiinfo -DMSI=x.msi -DVERSION=1.0.0 -DUPGRADE_CODE={...} -P PackageTables.cmake
function(export_table table out)
  execute_process(COMMAND ${MSIINFO} export ${MSI} ${table} OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "msiinfo export ${MSI} ${table} failed: ${failed}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

export_table(File files)
set(problems "")
foreach(name kestrane-host.exe kestrane-cli.exe KestraneService.dll Logging.dll KestraneClient.dll)
  string(REPLACE "." "\\." pattern "${name}")
  # FileName may be "SHORT~1.EXE|long name"; then the size, then the version.
  if(NOT files MATCHES "[\t|]${pattern}\t[0-9]+\t([^\t]*)\t")
    string(APPEND problems "${name}: no row in the File table\n")
  elseif(NOT CMAKE_MATCH_1 STREQUAL "${VERSION}.0")
    string(APPEND problems "${name}: version '${CMAKE_MATCH_1}', not ${VERSION}.0\n")
  endif()
endforeach()

export_table(Upgrade upgrades)
# UpgradeCode, VersionMin, VersionMax, Language, Attributes, Remove, ActionProperty:
# MigrateFeatures (1) with VersionMaxInclusive (0x200) up to this version itself.
if(NOT upgrades MATCHES "${UPGRADE_CODE}\t\t${VERSION}\t\t513\t\tWIX_UPGRADE_DETECTED")
  string(APPEND problems "the Upgrade table does not replace the same version:\n${upgrades}\n")
endif()
# The downgrade row starts above this version (no VersionMinInclusive): a rebuild is no downgrade.
if(NOT upgrades MATCHES "${UPGRADE_CODE}\t${VERSION}\t\t\t2\t\tWIX_DOWNGRADE_DETECTED")
  string(APPEND problems "the Upgrade table's downgrade row is not as expected:\n${upgrades}\n")
endif()

if(problems)
  message(FATAL_ERROR "${MSI}:\n${problems}")
endif()
message(STATUS "${MSI}: five versioned files, same-version upgrade in place")
