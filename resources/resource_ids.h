#pragma once
// Resource ids shared by the .rc file and the code that loads them (plain #defines: the
// resource compiler reads this file too).

#define IDI_ORVANE 101          // icon group, 16 to 256 px
#define IDR_LOGO_PNG 102        // RCDATA: the logo, a 512 x 512 PNG
#define IDR_FONT_REGULAR 103    // RCDATA: the embedded text font, regular weight
#define IDR_FONT_SEMIBOLD 104   // RCDATA: the embedded text font, semibold weight
