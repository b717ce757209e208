// The TSPL interpreter: a label printer's text commands drawn onto the
// label (a page of SIZE, in dots, in the label's own coordinates), one page
// per PRINT set, with a listing line per command.
#pragma once

#include <cstddef>

#include "Render.h"

// Runs the job from AFrom to its end, or to a print-mode frame selecting
// receipt mode: then returns the offset after the frame and sets ANext to
// rlEscPos.
size_t RunTspl(TJobContext& AContext, size_t AFrom, TRenderLanguage& ANext);
