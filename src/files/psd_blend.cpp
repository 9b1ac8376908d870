// The program's blend modes and the blend keys of PSD layer records.
//
// The files library does not see the document's blend-mode table, so the
// modes are given here by number; the numbers are those of that table and
// never change.
//
//   mode                     key     the key's own meaning
//    0 multiply ("승산")     "mul "  multiply
//    1 add ("가산")          "lddg"  linear dodge: d + s
//    2 subtract ("감소")     "fsub"  subtract: d − s
//    3 normal ("표준")       "norm"  normal
//    4 screen                "scrn"  screen
//    5 overlay               "over"  overlay
//    6 hard light            "hLit"  hard light
//    7 soft light            "sLit"  soft light
//    8 difference            "diff"  difference
//    9 exclusion             "smud"  exclusion
//   10 darker                "dark"  darken
//   11 lighter               "lite"  lighten
//   12 burn                  "idiv"  colour burn
//   13 dodge                 "div "  colour dodge
//   14 hue                   "hue "  hue
//   15 saturation            "sat "  saturation
//   16 colour                "colr"  colour
//   17 luminosity            "lum "  luminosity
//   18 subtract, negative    "lbrn"  linear burn: d + s − 255, which is d − (255 − s)
//   19 linear light          "lLit"  linear light
//   20 vivid light           "vLit"  vivid light
//   21 pin light             "pLit"  pin light
//   dissolve (any mode)      "diss"  dissolve; read back as normal with dissolve on
//
// Keys without a mode of their own read as the nearest one:
//   "pass" (a folder passing its layers through)   → 3 normal
//   "dkCl" darker colour                            → 10 darker
//   "lgCl" lighter colour                           → 11 lighter
//   "hMix" hard mix (vivid light thresholded)       → 20 vivid light
//   "fdiv" divide, and any unknown key              → 3 normal
#include <cstring>

#include "files/psd.h"

namespace vl {

namespace {

constexpr int kNormal = 3;

struct KeyRow {
  char key[5];
  int mode;
};

// Mode i is written with kWritten[i].
constexpr KeyRow kWritten[22] = {
    {"mul ", 0},  {"lddg", 1},  {"fsub", 2},  {"norm", 3},  {"scrn", 4},  {"over", 5},
    {"hLit", 6},  {"sLit", 7},  {"diff", 8},  {"smud", 9},  {"dark", 10}, {"lite", 11},
    {"idiv", 12}, {"div ", 13}, {"hue ", 14}, {"sat ", 15}, {"colr", 16}, {"lum ", 17},
    {"lbrn", 18}, {"lLit", 19}, {"vLit", 20}, {"pLit", 21},
};

constexpr KeyRow kNearest[] = {
    {"pass", kNormal}, {"dkCl", 10}, {"lgCl", 11}, {"hMix", 20}, {"fdiv", kNormal},
};

bool sameKey(const char* a, const char* b) { return std::memcmp(a, b, 4) == 0; }

int lookUp(const char key[4], bool& dissolve) {
  if (sameKey(key, "diss")) {
    dissolve = true;
    return kNormal;
  }
  for (const KeyRow& r : kWritten)
    if (sameKey(key, r.key)) return r.mode;
  for (const KeyRow& r : kNearest)
    if (sameKey(key, r.key)) return r.mode;
  return -1;
}

}  // namespace

int psdBlendModeOf(const char key[4], bool& dissolve) {
  dissolve = false;
  int mode = lookUp(key, dissolve);
  if (mode < 0) {
    const char reversed[4] = {key[3], key[2], key[1], key[0]};
    mode = lookUp(reversed, dissolve);
  }
  return mode < 0 ? kNormal : mode;
}

void psdBlendKeyOf(int mode, bool dissolve, char key[4]) {
  const char* k = dissolve ? "diss" : (mode >= 0 && mode < 22) ? kWritten[mode].key : kWritten[kNormal].key;
  std::memcpy(key, k, 4);
}

}  // namespace vl
