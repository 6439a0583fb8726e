# Install-time script: puts the program's icon into the hicolor folder named after its pixel
# size. Expects VOSTRAL_ICON_FILE (the drawn PNG) and VOSTRAL_ICON_THEME_DIR (the theme folder
# under the install prefix); file(INSTALL) adds DESTDIR and records the file in the manifest.

# Sizes the hicolor theme lists for application icons: an icon in any other folder is never
# found by the desktop.
set(hicolor_sizes 16 22 24 32 36 48 64 72 96 128 192 256 512)

if(NOT EXISTS "${VOSTRAL_ICON_FILE}")
  message(FATAL_ERROR "The program's icon ${VOSTRAL_ICON_FILE} is missing: build the project first")
endif()

# A PNG starts with an 8-byte signature and then the IHDR chunk: 4 bytes length, "IHDR", then
# width and height as 32-bit big-endian numbers.
file(READ "${VOSTRAL_ICON_FILE}" header LIMIT 24 HEX)
string(LENGTH "${header}" header_length)
if(header_length LESS 48)
  message(FATAL_ERROR "${VOSTRAL_ICON_FILE} is too short to be a PNG image")
endif()
string(SUBSTRING "${header}" 0 16 signature)
string(SUBSTRING "${header}" 24 8 chunk)
if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT chunk STREQUAL "49484452")
  message(FATAL_ERROR "${VOSTRAL_ICON_FILE} is not a PNG image")
endif()
string(SUBSTRING "${header}" 32 8 width_hex)
string(SUBSTRING "${header}" 40 8 height_hex)
math(EXPR width "0x${width_hex}")
math(EXPR height "0x${height_hex}")

list(FIND hicolor_sizes "${width}" size_index)
if(NOT width EQUAL height)
  message(WARNING "The program's icon is ${width}x${height}: theme icons must be square")
elseif(size_index EQUAL -1)
  message(WARNING "The program's icon is ${width}x${height}, a size the hicolor theme does not list: "
                  "the desktop will not find it")
endif()

file(INSTALL "${VOSTRAL_ICON_FILE}"
  DESTINATION "${VOSTRAL_ICON_THEME_DIR}/${width}x${height}/apps"
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
