# The one place where the product version is set; every binary's version resource and the
# release bundle's name take it from here.
set(RAVELPAK_VERSION_MAJOR 0)
set(RAVELPAK_VERSION_MINOR 1)
set(RAVELPAK_VERSION_PATCH 0)
set(RAVELPAK_VERSION "${RAVELPAK_VERSION_MAJOR}.${RAVELPAK_VERSION_MINOR}.${RAVELPAK_VERSION_PATCH}")
