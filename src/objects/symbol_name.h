// Script names as the module compares them: a host symbol turned into text and lower-cased.
#pragma once

#include "kinetiscan/host_services.h"

namespace kinetiscan {

struct SymbolName {
  char text[256];
};

// Zeroes the buffer, has the host fill it and forces the last byte to NUL; letter case is kept.
// False, with an empty text, when there is no ValueServices to ask.
bool symbolText(ValueServices* values, Symbol symbol, SymbolName* name);
// Zeroes the buffer, has the host fill it, forces the last byte to NUL and lower-cases A-Z only.
// False, with an empty name, when there is no ValueServices to ask.
bool prepareSymbolName(ValueServices* values, Symbol symbol, SymbolName* name);

bool nameIs(const SymbolName& name, const char* lowerCaseName);

}  // namespace kinetiscan
