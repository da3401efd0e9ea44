// Name preparation shared by the cast member and the sprite actor.
#include "objects/symbol_name.h"

#include <cstring>

namespace kinetiscan {

bool symbolText(ValueServices* values, Symbol symbol, SymbolName* name) {
  std::memset(name->text, 0, sizeof name->text);
  if (values == nullptr) return false;
  values->ops->symbolToString(values, symbol, name->text, sizeof name->text);
  // The host need not terminate a name that fills the buffer.
  name->text[sizeof name->text - 1] = '\0';
  return true;
}

bool prepareSymbolName(ValueServices* values, Symbol symbol, SymbolName* name) {
  if (!symbolText(values, symbol, name)) return false;
  for (char& c : name->text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return true;
}

bool nameIs(const SymbolName& name, const char* lowerCaseName) {
  return std::strcmp(name.text, lowerCaseName) == 0;
}

}  // namespace kinetiscan
