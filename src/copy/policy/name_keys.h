#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_primitives.h"

namespace salvatrix {

/// A UTF-16 code unit through exFAT's up-case table.
char16_t UpcaseUnit(char16_t unit);

/// The key under which a folder with rule files name: two names with one key are one entry
/// there. kUpcase takes the UTF-8 name as UTF-16 and upper-cases each unit through the table
/// (surrogates stay as they are, as the table does); bytes that are not UTF-8 stay as they are.
std::string NameKey(std::string_view name, NameRule rule);

/// Whether name is one of this program's temporary files: ".salvatrix-", six letters or
/// digits, ".tmp".
bool IsTemporaryName(std::string_view name);

/// A fresh temporary name.
std::string TemporaryName();

}  // namespace salvatrix
