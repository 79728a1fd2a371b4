# The Debian package of both programs (scripts/package: a Release build, then cpack -G DEB):
# fennick_<version>_<arch>.deb installing into /usr. Its dependencies are read from the
# libraries the programs link (dpkg-shlibdeps), not kept by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fennick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brantle Software")
set(CPACK_PACKAGE_CONTACT "Brantle Software <support@brantlesoftware.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "find and recover deleted files on FAT, exFAT and NTFS volumes")
set(CPACK_PACKAGE_DESCRIPTION
    "Fennick finds deleted files on FAT12, FAT16, FAT32, exFAT and NTFS volumes (block devices
and volume images, also whole disks with an MBR or GPT partition table and EWF, VHD, VHDX,
VMDK and QCOW2 images), estimates how much of each file is still intact, and copies the files
back out into a folder of your choice. It reads the raw sectors itself and never writes to the
volume it reads; only an explicit wipe does.
.
This package holds the desktop program (fennick, Qt 6) and the command-line front end over the
same engines (fennick-cli), with its bash completion.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brantle Software <support@brantlesoftware.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.brantlesoftware.com/fennick/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Help and the links open through Qt's desktop services, which start xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
# fennick_<version>_<arch>.deb (no Debian revision is set).
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

include(CPack)
