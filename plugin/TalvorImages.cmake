# The editor's images: the one table of them. Everything else is made from it
# (cmake/TalvorResources.cmake): the image header the editor layout includes
# (plugin/TalvorResources.h, generated), the "PNG" resources of the Windows
# resource script, and the byte arrays compiled into the plug-in for hosts
# without module resources. Also read in script mode by cmake/EmbedImages.cmake.
#
# Three columns: resource id, the stem of the header's macros (BG gives BG_ID and
# BG_FN), and the file, relative to the source root. The file name is also the
# name the editor asks for.
#
# The second twelve rows are the same images at twice the size, for displays
# scaled above 100 %: each id is its 1x image's id plus 100
# (kHiResImageIdOffset in graphics/IGraphics.h), and the editor decodes them
# only once it is shown at such a scale.
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
  201 BG_2X   resources/img/2x/BG.png
  202 BY_2X   resources/img/2x/BY.png
  203 HF_2X   resources/img/2x/HF.png
  204 HG_2X   resources/img/2x/HG.png
  205 LF_2X   resources/img/2x/LF.png
  206 LG_2X   resources/img/2x/LG.png
  207 MF_2X   resources/img/2x/MF.png
  208 MG_2X   resources/img/2x/MG.png
  209 IN_2X   resources/img/2x/IN.png
  210 OUT_2X  resources/img/2x/OUT.png
  211 FL_2X   resources/img/2x/FL.png
  212 LINK_2X resources/img/2x/LINK.png
)
