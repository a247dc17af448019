#include "library/record_copy.h"

#include "platform/variant.h"

namespace tarvo {

void CopyInitials(BInitials& dst, const BInitials& src) {
  if (&dst == &src) return;
  VariantAssign(dst.FileName, src.FileName);
  CopyCounts(dst, src);
}

void CopyCounts(BInitials& dst, const BInitials& src) {
  dst.NEspeces = src.NEspeces;
  dst.NInterrupts = src.NInterrupts;
  dst.NParametres = src.NParametres;
  dst.NAjustables = src.NAjustables;
  dst.NPoints = src.NPoints;
  dst.NSorties = src.NSorties;
}

void CopyFitSet(BFitSet& dst, const BFitSet& src) {
  if (&dst == &src) return;
  // The host's copy of the same name is left in place: a simulation or a fitting step then
  // allocates nothing.
  if (!VariantSameString(dst.Method, src.Method)) VariantAssign(dst.Method, src.Method);
  CopySettings(dst, src);
  dst.ErreurExp = src.ErreurExp;
  dst.ErreurCalc = src.ErreurCalc;
  dst.Done = src.Done;
}

void CopySettings(BFitSet& dst, const BFitSet& src) {
  dst.Erreur = src.Erreur;
  dst.MaxIter = src.MaxIter;
  dst.Coeff = src.Coeff;
  dst.TypeErreur = src.TypeErreur;
  dst.Tolerance = src.Tolerance;
  dst.Marquard = src.Marquard;
  dst.Precision = src.Precision;
}

}  // namespace tarvo
