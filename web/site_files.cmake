# Lists the site's files for the page and the service worker:
#   cmake -DSITE=<folder> -DTEMPLATE=<sw.js.in> -P site_files.cmake
# Writes files.js (the files the program reads, with their sizes) and sw.js
# (every file of the site, under a cache name made from their digest).
file(GLOB_RECURSE all RELATIVE ${SITE} ${SITE}/*)
list(FILTER all EXCLUDE REGEX "^(\\.|sw\\.js$|files\\.js$)")
list(FILTER all EXCLUDE REGEX "/\\.")
list(SORT all)
set(digests "")
set(program_files "")
set(site_files "\"./\"")
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
    string(APPEND program_files "  {\"path\": \"${path}\", \"size\": ${size}}")
  endif()
endforeach()
string(SHA256 version "${digests}")
string(SUBSTRING ${version} 0 16 version)
string(APPEND site_files ",\n  \"files.js\"")

file(WRITE ${SITE}/files.js.new "// Written by the build: the files the program reads, put in its folder before it starts.
self.tambloVersion = \"${version}\";
self.tambloProgramFiles = [
${program_files}
];
")
file(COPY_FILE ${SITE}/files.js.new ${SITE}/files.js ONLY_IF_DIFFERENT)
file(REMOVE ${SITE}/files.js.new)
set(VERSION ${version})
set(FILES "[\n  ${site_files}\n]")
configure_file(${TEMPLATE} ${SITE}/sw.js @ONLY)
