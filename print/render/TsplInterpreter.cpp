#include "TsplInterpreter.h"

size_t RunTspl(TJobContext& AContext, size_t AFrom, TRenderLanguage& ANext) {
  ANext = rlAuto;
  AContext.Add(AFrom, AContext.Size - AFrom, "TSPL", "(not drawn yet)");
  return AContext.Size;
}
