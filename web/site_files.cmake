# Lists the site's files for the page and the service worker:
#   cmake -DSITE=<folder> -DTEMPLATE=<sw.js.in> -DLATER_TABLES=<a,b> -P site_files.cmake
# Writes files.js (the files the program reads, with their sizes, and for
# the tables fetched only when their first building begins, which table) and
# sw.js (every file of the site, under a cache name made from their digest,
# and which of them come later).
cmake_minimum_required(VERSION 3.20)
file(GLOB_RECURSE all RELATIVE ${SITE} ${SITE}/*)
list(FILTER all EXCLUDE REGEX "^(\\.|sw\\.js$|files\\.js$)")
list(FILTER all EXCLUDE REGEX "/\\.")
list(SORT all)
string(REPLACE "," ";" later_tables "${LATER_TABLES}")
set(digests "")
set(program_files "")
set(site_files "\"./\"")
set(later_files "")
foreach(path ${all})
  file(SHA256 ${SITE}/${path} sum)
  string(APPEND digests "${path} ${sum}\n")
  string(APPEND site_files ",\n  \"${path}\"")
  # What the program opens: the tables, its artwork and its fonts.
  if(path MATCHES "^(assets/|fonts/)" OR path MATCHES "\\.(DAT|IDX|BLB)$")
    file(SIZE ${SITE}/${path} size)
    if(program_files)
      string(APPEND program_files ",\n")
    endif()
    set(table "")
    if(path MATCHES "^([A-Za-z]+)\\.(DAT|IDX|BLB)$")
      set(name ${CMAKE_MATCH_1})
      if(name IN_LIST later_tables)
        set(table ", \"table\": \"${name}\"")
        if(later_files)
          string(APPEND later_files ",\n  ")
        endif()
        string(APPEND later_files "\"${path}\"")
      endif()
    endif()
    string(APPEND program_files "  {\"path\": \"${path}\", \"size\": ${size}${table}}")
  endif()
endforeach()
string(SHA256 version "${digests}")
string(SUBSTRING ${version} 0 16 version)
string(APPEND site_files ",\n  \"files.js\"")

file(WRITE ${SITE}/files.js.new "// Written by the build: the files the program reads, put in its folder before it
// starts, but for a table named here, which comes when its first building begins.
self.tambloVersion = \"${version}\";
self.tambloProgramFiles = [
${program_files}
];
")
file(COPY_FILE ${SITE}/files.js.new ${SITE}/files.js ONLY_IF_DIFFERENT)
file(REMOVE ${SITE}/files.js.new)
set(VERSION ${version})
set(FILES "[\n  ${site_files}\n]")
set(LATER "[\n  ${later_files}\n]")
configure_file(${TEMPLATE} ${SITE}/sw.js @ONLY)
