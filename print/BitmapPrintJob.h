// The picture print job behind the image dialog's OK button: picture file +
// dialog fields -> one-bit image (and its BMP), an ESC/POS raster (GS v 0) or
// TSPL BITMAP job, the two dump files and the finished envelope text.
#pragma once

#include <string>

#include "DitheredBitmap.h"
#include "PrintTask.h"

// The dialog's fields as the operator left them (texts, as in the edits).
struct TBitmapPrintSettings {
  std::string PaperWidth = "576";  // edt_paper_width: picture width in dots
  bool EscPos = true;              // rb_recpet_escpos checked; false: rb_recpet_tspl
  std::string LabelWidth = "50";   // edt_width: label width in mm (TSPL only)
  std::string LabelHeight = "50";  // edt_height: label height in mm (TSPL only)
  std::string DumpDir;             // where a.bin and base64.txt go; empty: DefaultDumpDir()
  TPictureOptions Picture;         // scaling, dithering, gamma; progress and cancelling
  int BandRows = 0;                // ESC/POS: rows per GS v 0 command (0: one command)
};

struct TBitmapPrintResult {
  std::string base64text;  // the envelope for the send memo
  TMonoBitmap Image;       // the dithered picture
  TPrintBytes Job;         // the printer command bytes (also in a.bin)
  std::string BitmapFileName;
  std::string JobFileName;     // .../a.bin
  std::string Base64FileName;  // .../base64.txt
};

inline constexpr const char* kJobDumpName = "a.bin";
inline constexpr const char* kBase64DumpName = "base64.txt";

// "tessiva" under $TMPDIR, or under /tmp when TMPDIR is unset or empty;
// MakeBitmapPrintTask creates it (mode 0700) when missing.
std::string DefaultDumpDir();

// An edit's text as an integer: optional leading blanks, an optional sign,
// decimal digits, within the 32-bit range. Otherwise throws
// "'<text>' is not a valid integer value".
int DialogTextToInt(const std::string& AText);

// GS v 0: 1D 76 30 00, bytes per row and height (16 bits, little-endian),
// then every row with the padding bits set and all bits inverted (1 = dot),
// then CR LF. A picture whose row bytes or height do not fit the 16-bit
// fields is refused: the printer would take the rest of the rows for
// commands.
// ABandRows > 0 splits the raster into GS v 0 commands of at most that many
// rows each, one after the other, then the one CR LF: a receipt printer
// whose buffer is smaller than the whole picture prints each band as it
// comes. ABandRows must lie between 0 and 65535.
TPrintBytes MakeEscPosRasterJob(const TMonoBitmap& AImage, int ABandRows = 0);

// Throws "Band rows out of range (0 to 65535): N" for anything else.
void CheckBandRows(int ABandRows);

// "SIZE w mm,h mm" LF CR "CLS" LF CR "BITMAP 0,0,R,H,1," rows as they are,
// then "PRINT 1,1" LF CR.
TPrintBytes MakeTsplBitmapJob(const TMonoBitmap& AImage, int ALabelWidth, int ALabelHeight);

// The whole OK handling for the chosen picture file, in the dialog's order:
// width, picture options and band rows, conversion and BMP, label size (TSPL), job, a.bin, Base64,
// envelope, base64.txt. Throws EPrintError with the operator's message at
// the first failure; files written before it stay. A dump file that is a
// symbolic link is not written through (WriteDumpFile).
TBitmapPrintResult MakeBitmapPrintTask(const std::string& AFileName, const TBitmapPrintSettings& ASettings);
