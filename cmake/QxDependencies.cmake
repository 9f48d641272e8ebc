# Every outside library the project uses, as imported targets.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(TINYXML REQUIRED IMPORTED_TARGET tinyxml)
# libzip's own CMake package is broken on Debian 12; pkg-config works.
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(PCRECPP REQUIRED IMPORTED_TARGET libpcrecpp)
find_package(CURL REQUIRED)

# FreeImage ships neither a .pc file nor a CMake package.
find_path(FREEIMAGE_INCLUDE_DIR FreeImagePlus.h REQUIRED)
find_library(FREEIMAGE_LIBRARY freeimage REQUIRED)
find_library(FREEIMAGEPLUS_LIBRARY freeimageplus REQUIRED)
if(NOT TARGET FreeImage::FreeImage)
    add_library(FreeImage::FreeImage UNKNOWN IMPORTED)
    set_target_properties(FreeImage::FreeImage PROPERTIES IMPORTED_LOCATION ${FREEIMAGE_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${FREEIMAGE_INCLUDE_DIR})
    add_library(FreeImage::FreeImagePlus UNKNOWN IMPORTED)
    set_target_properties(FreeImage::FreeImagePlus PROPERTIES IMPORTED_LOCATION ${FREEIMAGEPLUS_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${FREEIMAGE_INCLUDE_DIR}
        INTERFACE_LINK_LIBRARIES FreeImage::FreeImage)
endif()

if(NOT QX_FUZZ_ONLY)
    find_package(X11 REQUIRED)
    pkg_check_modules(XKBCOMMON REQUIRED IMPORTED_TARGET xkbcommon)
    pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)
    find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Network)
    if(QX_BUILD_TESTS)
        find_package(GTest REQUIRED)
        find_package(Qt6 REQUIRED COMPONENTS Test)
    endif()
    if(QX_BUILD_BENCH)
        find_package(benchmark REQUIRED)
    endif()
endif()
