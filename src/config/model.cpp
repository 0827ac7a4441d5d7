#include "config/model.h"

#include "formcomp/formula.h"

namespace kovra {

TAllData::TAllData() = default;
TAllData::~TAllData() = default;
TAllData::TAllData(TAllData&&) noexcept = default;
TAllData& TAllData::operator=(TAllData&&) noexcept = default;

}  // namespace kovra
