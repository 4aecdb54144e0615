# Names shared by the install rules (packaging/) and their tests (tests/packaging/).
# The component id of the AppStream metadata; its installed file is named after it.
set(TARVELLO_APPSTREAM_ID "org.tarvello.videoconverter")
# The icon sizes rendered from app/resources/pictures/tarvello.svg under packaging/icons/hicolor.
set(TARVELLO_ICON_SIZES 16 32 48 64 128 256)
