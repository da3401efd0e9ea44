// The plug-in's script methods as kinetiscan-play's --at calls them.
#pragma once

#include <string>

#include "options.h"

namespace kinetiscan::play {

// Every method with the arguments it takes and what it does, for the footer of --help.
std::string methodsHelp();

// Whether the call names a method (in any letter case) with arguments of the kinds it takes;
// sets call.tracksColour. Otherwise the reason in `error`, starting with `where`, naming the
// nearest method when the name looks misspelt.
bool checkMethod(ScriptCall& call, const std::string& where, std::string* error);

}  // namespace kinetiscan::play
