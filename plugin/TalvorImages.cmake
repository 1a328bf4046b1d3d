# The editor's images: the one table of them. Everything else is made from it
# (cmake/TalvorResources.cmake): the image header the editor layout includes
# (plugin/TalvorResources.h, generated), the "PNG" resources of the Windows
# resource script, and the byte arrays compiled into the plug-in for hosts
# without module resources. Also read in script mode by cmake/EmbedImages.cmake.
#
# Three columns: resource id, the stem of the header's macros (BG gives BG_ID and
# BG_FN), and the file, relative to the source root. The file name is also the
# name the editor asks for.
set(TALVOR_IMAGES
  101 BG   resources/img/BG.png
  102 BY   resources/img/BY.png
  103 HF   resources/img/HF.png
  104 HG   resources/img/HG.png
  105 LF   resources/img/LF.png
  106 LG   resources/img/LG.png
  107 MF   resources/img/MF.png
  108 MG   resources/img/MG.png
  109 IN   resources/img/IN.png
  110 OUT  resources/img/OUT.png
  111 FL   resources/img/FL.png
  112 LINK resources/img/LINK.png
)
