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
# The VST3 class id as hosts and .vstpreset files write it (the SDK's text form):
# these 16 hexadecimal digits, then the maker code, then the plug-in code. The
# text is the same on every platform; the bytes are not (see
# cmake/TalvorIdentityHeader.cmake): the Windows module keeps the bytes
# 0D E7 AE F2 DE 00 4E 4F ... that stored projects rely on.
set(TALVOR_VST3_CLASS_ID_PREFIX "F2AEE70D00DE4F4E")
# What the factory reports as the SDK version of its class.
set(TALVOR_VST3_SDK_VERSION "VST 3.6.12")

# The LV2 plug-ins' URIs start with this: /stereo and /mono, their editor /ui.
set(TALVOR_LV2_URI "${TALVOR_URL}/plugins/talvor")
