// The ESC/POS interpreter: a receipt printer's commands drawn onto a page
// that grows with what is printed, with a listing line per command and
// findings for what a printer would not print as meant.
#pragma once

#include <cstddef>

#include "Render.h"

// Runs the job from AFrom to its end, or to a print-mode frame selecting
// label mode: then returns the offset after the frame and sets ANext to
// rlTspl. Pages go to the context when they are finished (at a cut and at
// the end).
size_t RunEscPos(TJobContext& AContext, size_t AFrom, TRenderLanguage& ANext);

// Cell sizes of the printer's fonts (dots).
inline constexpr int kFontAWidth = 12, kFontAHeight = 24;
inline constexpr int kFontBWidth = 9, kFontBHeight = 17;
inline constexpr int kChineseCell = 24;
// Line spacing after ESC @ and ESC 2 (dots).
inline constexpr int kDefaultLineSpacing = 30;
