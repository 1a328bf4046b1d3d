# TALVOR's identity, written once. The version is project(VERSION) in the top
# CMakeLists.txt; everything else is here. cmake/TalvorIdentityHeader.cmake
# derives the packed forms and generates plugin/TalvorIdentity.h from these for
# the code, the Windows resource script and the tests' plug-in; packaging steps
# read the CMake variables (listed there).
set(TALVOR_NAME "${PROJECT_NAME}")
set(TALVOR_PRODUCT_NAME "")
set(TALVOR_MAKER "SilverMeadowLab")
set(TALVOR_URL "https://silvermeadowlab.example")
set(TALVOR_EMAIL "support@silvermeadowlab.example")
set(TALVOR_PLUGIN_CODE "Tlv1")
set(TALVOR_MAKER_CODE "Smlb")
set(TALVOR_VST3_CATEGORY "Fx|EQ")
# The VST3 class id is these eight bytes, then the maker code, then the plug-in code.
set(TALVOR_VST3_CLASS_ID_PREFIX "0DE7AEF2DE004E4F")

