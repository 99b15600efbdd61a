#pragma once
// One language's entries, as each table_xx.cpp lists them. Internal to lang/.

#include <cstddef>

#include "lang/texts.h"

namespace lang {

struct Entry {
    Text key;
    const wchar_t* text;
};

struct Table {
    const Entry* entries;
    size_t count;
};

Table englishTable();
Table germanTable();
Table frenchTable();
Table spanishTable();
Table portugueseBrazilTable();
Table polishTable();
Table russianTable();
Table turkishTable();

}  // namespace lang
