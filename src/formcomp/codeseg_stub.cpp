// Placeholder until the code generator lands.
#include "formcomp/formula.h"
namespace kovra {
CodeSeg::~CodeSeg() = default;
}
