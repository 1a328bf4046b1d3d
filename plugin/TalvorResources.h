#pragma once
// The editor's images: resource ids and file names. Plain #defines so that the
// Windows resource script can include this file as well; the build also reads it
// to compile the images into non-Windows builds.

#define BG_ID 101
#define BY_ID 102
#define HF_ID 103
#define HG_ID 104
#define LF_ID 105
#define LG_ID 106
#define MF_ID 107
#define MG_ID 108
#define IN_ID 109
#define OUT_ID 110
#define FL_ID 111
#define LINK_ID 112

#define BG_FN "resources/img/BG.png"
#define BY_FN "resources/img/BY.png"
#define HF_FN "resources/img/HF.png"
#define HG_FN "resources/img/HG.png"
#define LF_FN "resources/img/LF.png"
#define LG_FN "resources/img/LG.png"
#define MF_FN "resources/img/MF.png"
#define MG_FN "resources/img/MG.png"
#define IN_FN "resources/img/IN.png"
#define OUT_FN "resources/img/OUT.png"
#define FL_FN "resources/img/FL.png"
#define LINK_FN "resources/img/LINK.png"
