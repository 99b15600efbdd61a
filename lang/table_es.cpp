#include <iterator>

#include "lang/table.h"

namespace lang {

namespace {

using T = Text;

const Entry kEntries[] = {
    {T::kWindowTitle, L"Orvane Online Setup"},
};

}  // namespace

Table spanishTable() { return {kEntries, std::size(kEntries)}; }

}  // namespace lang
