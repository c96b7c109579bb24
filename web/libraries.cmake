# The libraries of the browser build: static WebAssembly libraries that
# scripts/build-web-deps built from Debian's sources into one prefix. The
# browser stands in for fontconfig and ICU, so those targets are empty here.
set(TAMBLO_WEB_DEPS "${CMAKE_SOURCE_DIR}/build-webdeps/prefix" CACHE PATH
  "Where scripts/build-web-deps installed the browser's libraries")
if(NOT EXISTS ${TAMBLO_WEB_DEPS}/lib/libSDL2.a)
  message(FATAL_ERROR "No browser libraries in ${TAMBLO_WEB_DEPS}: run scripts/build-web-deps first")
endif()
set(TAMBLO_WEB_SITE ${CMAKE_BINARY_DIR} CACHE PATH "The folder a web server serves: the program and its page")
# The toolchain looks for libraries under its root paths only.
list(APPEND CMAKE_FIND_ROOT_PATH ${TAMBLO_WEB_DEPS})
set(ENV{PKG_CONFIG_LIBDIR} ${TAMBLO_WEB_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
find_package(PkgConfig REQUIRED)

# The SDL family, under the name the desktop's pkg-config gives it. A static
# link needs what each library uses too, so the target carries them all.
add_library(PkgConfig::SDL2 INTERFACE IMPORTED)
target_include_directories(PkgConfig::SDL2 INTERFACE ${TAMBLO_WEB_DEPS}/include/SDL2 ${TAMBLO_WEB_DEPS}/include)
foreach(lib SDL2_ttf SDL2_image SDL2_mixer SDL2 freetype tiff jpeg png16 z)
  target_link_libraries(PkgConfig::SDL2 INTERFACE ${TAMBLO_WEB_DEPS}/lib/lib${lib}.a)
endforeach()
set(ZLIB_ROOT ${TAMBLO_WEB_DEPS})
find_package(ZLIB REQUIRED)

add_library(PkgConfig::FONTCONFIG INTERFACE IMPORTED)
add_library(ICU::uc INTERFACE IMPORTED)
add_library(ICU::i18n INTERFACE IMPORTED)

# The game catches what the engine throws; emscripten leaves catching off unless asked.
add_compile_options(-fexceptions)
add_link_options(-fexceptions)
